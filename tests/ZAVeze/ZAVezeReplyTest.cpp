#include "ZAVezeReply.h"
#include "ZAVezeTestFrames.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using ZAVezeTestFrames::replyOf;

TEST(ZAVezeReply, MatchingTable)
{
    const struct {
        const char* json;
        int id;
        const char* method;
        bool matches;
    } cases[] = {
        {R"({"id":7,"method":"SetName"})", 7, "SetName", true},
        {R"({"id":"7","method":"SetName"})", 7, "SetName", true},
        {R"({"id":7,"method":"setname"})", 7, "SetName", true},
        {R"({"id":7,"method":"SETNAME"})", 7, "SetName", true},
        {R"({"id":8,"method":"SetName"})", 7, "SetName", false},
        {R"({"id":"x7","method":"SetName"})", 7, "SetName", false},
        {R"({"id":"abc","method":"SetName"})", 0, "SetName", false},
        {R"({"method":"SetName"})", 0, "SetName", false},
        {R"({"id":7,"method":"SetIp"})", 7, "SetName", false},
        {R"({"id":7})", 7, "SetName", false},
        {R"({"id":7.9,"method":"SetName"})", 7, "SetName", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(replyOf(c.json).matches(c.id, QString::fromLatin1(c.method)), c.matches) << c.json;
}

TEST(ZAVezeReply, ReadersTable)
{
    bool ok = true;
    EXPECT_EQ(replyOf(R"({})").id(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(replyOf(R"({"id":"12"})").id(&ok), 12);
    EXPECT_TRUE(ok);
    EXPECT_EQ(replyOf(R"({"id":"twelve"})").id(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(replyOf(R"({"method":5})").method(&ok), QString("5"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(replyOf(R"({"method":[1]})").method(&ok), QString());
    EXPECT_TRUE(ok);
    EXPECT_EQ(replyOf(R"({})").method(&ok), QString());
    EXPECT_FALSE(ok);
}

TEST(ZAVezeReply, SuccessTable)
{
    const struct {
        const char* json;
        bool success;
    } cases[] = {
        {R"({"result":"success"})", true},  {R"({"result":"Success"})", true},
        {R"({"result":"SUCCESS"})", true},  {R"({"result":"fail"})", false},
        {R"({})", false},                   {R"({"result":0})", false},
        {R"({"result":"success "})", false}, {R"({"result":null})", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(replyOf(c.json).isSuccess(), c.success) << c.json;
}
