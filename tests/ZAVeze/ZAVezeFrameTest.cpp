#include "ZAVezeFrame.h"
#include "ZAVezeReply.h"
#include "ZAVezeTestFrames.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace ZAVezeTestFrames;
using Check = ZAVezeFrame::Check;

TEST(ZAVezeFrame, RequestBytesForAKnownCommand)
{
    const QJsonObject request{{"id", 5}, {"method", "SetIp"}, {"IpMode", "dhcp"}};
    const QByteArray json = ZAVezeFrame::jsonText(request);
    ASSERT_EQ(json, QByteArray(R"({"IpMode":"dhcp","id":5,"method":"SetIp"})"));
    const QByteArray frame = ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(), json);
    const QByteArray expected = QByteArray::fromHex("02005e00000a"   // Ethernet destination
                                                    "02000000dd01"   // Ethernet source
                                                    "0806"           // ARP
                                                    "0001080006040001"
                                                    "02000000dd01c0000201" // sender
                                                    "02005e00000ac000020a" // target
                                                    "8888"           // magic
                                                    "01"             // kind
                                                    "003b"           // L + 18 = 59
                                                    "00000000"
                                                    "0000003b"
                                                    "00"             // flag
                                                    "0000"
                                                    "003b") +
                                json;
    EXPECT_EQ(frame.toHex(), expected.toHex());
    EXPECT_EQ(frame.size(), 60 + json.size());
    EXPECT_EQ(ZAVezeFrame::checkHeader(frame), Check::Accepted);
}

TEST(ZAVezeFrame, LengthFieldsKeepTheLow16BitsAndTheFull32)
{
    const QByteArray json(70000, 'x');
    const QByteArray frame = ZAVezeFrame::build(deviceMac(), deviceIp(), adapterMac(), adapterIp(), json);
    const quint32 length = 70000 + 18;
    EXPECT_EQ(frame.mid(45, 2).toHex(), QByteArray::number(length & 0xffff, 16).rightJustified(4, '0'));
    EXPECT_EQ(frame.mid(51, 4).toHex(), QByteArray::number(length, 16).rightJustified(8, '0'));
}

TEST(ZAVezeFrame, StageOneTable)
{
    const QByteArray valid = reply(QByteArray(R"({"id":1,"method":"search"})"));
    auto with = [&](int offset, char value) {
        QByteArray frame = valid;
        frame[offset] = value;
        return frame;
    };
    QByteArray padded = valid;
    padded.append('\0');
    QByteArray wrongLength = valid;
    wrongLength[46] = char(wrongLength[46] + 1);
    QByteArray highLength = valid; // 0x80 in the high byte must not read as negative
    highLength[45] = char(0x80);

    const struct {
        const char* name;
        QByteArray frame;
        Check expected;
    } cases[] = {
        {"valid", valid, Check::Accepted},
        {"59 bytes", QByteArray(59, '\x88'), Check::TooShort},
        {"empty", QByteArray(), Check::TooShort},
        {"byte 43 is 0x89", with(43, char(0x89)), Check::BadMagic},
        {"byte 42 is 0x00", with(42, 0), Check::BadMagic},
        {"flag byte 55 is 1", with(55, 1), Check::BadFlag},
        {"one byte of padding", padded, Check::BadLength},
        {"length field one more", wrongLength, Check::BadLength},
        {"length field high bit", highLength, Check::BadLength},
        {"other EtherType is not looked at", with(12, 0x08 ^ 0x01), Check::Accepted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZAVezeFrame::checkHeader(c.frame), c.expected) << c.name;
}

TEST(ZAVezeFrame, StageTwoTable)
{
    QByteArray wrongIp = reply(QByteArray(R"({"id":1})"));
    wrongIp[41] = char(wrongIp[41] + 1);
    QByteArray wrongMac = reply(QByteArray(R"({"id":1})"));
    wrongMac[37] = char(wrongMac[37] + 1);
    const struct {
        const char* name;
        QByteArray frame;
        Check expected;
        QByteArray method;
    } cases[] = {
        {"object", reply(QByteArray(R"({"id":1,"method":"search"})")), Check::Accepted, "search"},
        {"target MAC ours, IP another", wrongIp, Check::NotForUs, ""},
        {"target MAC another", wrongMac, Check::NotForUs, ""},
        {"empty object", reply(QByteArray("{}")), Check::NotAnObject, ""},
        {"array", reply(QByteArray("[]")), Check::NotAnObject, ""},
        {"garbage", reply(QByteArray("\xff\xfe{{")), Check::NotAnObject, ""},
        {"no text", reply(QByteArray()), Check::NotAnObject, ""},
        {"zero byte ends the text", reply(QByteArray(R"({"id":2,"method":"SetName"})" "\0trailing", 36)),
         Check::Accepted, "SetName"},
        {"zero byte inside the object", reply(QByteArray(R"({"id":2,)" "\0" R"("method":"x"})", 21)),
         Check::NotAnObject, ""},
        {"repeated keys, the last wins", reply(QByteArray(R"({"method":{"a":[1]},"id":{},"method":"search","id":1})")),
         Check::Accepted, "search"},
        {"stage one still applies", QByteArray(40, 'x'), Check::TooShort, ""},
    };
    for (const auto& c : cases) {
        ZAVezeReply out;
        EXPECT_EQ(ZAVezeFrame::parseReply(c.frame, adapterMac(), adapterIp(), out), c.expected) << c.name;
        if (c.expected == Check::Accepted) {
            EXPECT_EQ(out.method(), QString::fromLatin1(c.method)) << c.name;
            EXPECT_EQ(out.senderMac, deviceMac());
            EXPECT_EQ(out.senderIp, deviceIp());
            EXPECT_EQ(out.targetMac, adapterMac());
            EXPECT_EQ(out.targetIp, adapterIp());
            EXPECT_EQ(out.frame, c.frame);
        }
    }
}

TEST(ZAVezeFrame, LogTextMasksPasswordsAtAnyDepth)
{
    const QJsonObject json{{"method", "SetSipSettings"},
                           {"password", "top-secret"},
                           {"sip0", QJsonObject{{"password", "line-secret"}, {"account", "100"}}},
                           {"list", QJsonArray{QJsonObject{{"password", "array-secret"}}}}};
    const QByteArray text = ZAVezeFrame::logText(json);
    EXPECT_FALSE(text.contains("secret")) << text.constData();
    EXPECT_TRUE(text.contains(R"("account":"100")"));
    EXPECT_TRUE(text.contains("SetSipSettings"));
    // The wire text keeps them: the devices need them.
    EXPECT_TRUE(ZAVezeFrame::jsonText(json).contains("line-secret"));
}

TEST(ZAVezeFrame, MacText)
{
    EXPECT_EQ(ZAVezeFrame::macText(QByteArray::fromHex("02005e00000a")), QString("02:00:5e:00:00:0a"));
}
