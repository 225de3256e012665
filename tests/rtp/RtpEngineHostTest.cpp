#include "RtpEngineHostDouble.h"

#include <gtest/gtest.h>

TEST(RtpEngineHostTest, SipPortSetting)
{
    const struct
    {
        const char* text;
        int port;
    } rows[] = {{"", 6832},     {"abc", 6832},   {"0", 6832},     {"-5", 6832},   {"6832", 6832},
                {"5060", 5060}, {"65535", 65535}, {"70000", 6832}, {"12x", 6832}, {"0x1F", 6832}};
    for (const auto& row : rows)
        EXPECT_EQ(RtpEngineHost::sipPortFromSetting(QString::fromLatin1(row.text)), row.port) << row.text;
}

TEST(RtpEngineHostTest, SettingsComeFromTheRegisteredHost)
{
    EXPECT_TRUE(RtpEngineHost::currentNetwork().ip().isEmpty()) << "no host: an empty adapter";
    EXPECT_EQ(RtpEngineHost::currentSipPort(), 6832);
    {
        RtpEngineHostDouble host;
        host.networkValue.setIp(QStringLiteral("192.168.1.20"));
        host.sipPortValue = 5060;
        EXPECT_EQ(RtpEngineHost::currentNetwork().ip(), QStringLiteral("192.168.1.20"));
        EXPECT_EQ(RtpEngineHost::currentSipPort(), 5060);
    }
    EXPECT_TRUE(RtpEngineHost::currentNetwork().ip().isEmpty());
    EXPECT_EQ(RtpEngineHost::currentSipPort(), 6832);
}
