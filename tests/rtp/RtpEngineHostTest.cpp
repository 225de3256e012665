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

TEST(RtpEngineHostTest, NetworkComesFromTheRegisteredHost)
{
    EXPECT_EQ(RtpEngineHost::instance(), nullptr);
    EXPECT_TRUE(RtpEngineHost::currentNetwork().ip().isEmpty()) << "no host: an empty adapter";
    {
        RtpEngineHostDouble host;
        host.networkValue.setIp(QStringLiteral("192.168.1.20"));
        EXPECT_EQ(RtpEngineHost::instance(), &host);
        EXPECT_EQ(RtpEngineHost::currentNetwork().ip(), QStringLiteral("192.168.1.20"));
    }
    EXPECT_EQ(RtpEngineHost::instance(), nullptr);
}
