#include "RtpInfo.h"
#include "RtpManager.h"
#include "RtpManagerControl.h"
#include "SonarisHttpApi.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Channels by id, and every start and stop asked of them.
class RecordingControl : public RtpManagerControl
{
public:
    struct Call
    {
        bool start;
        int id;
        int source;
        int trigger;
    };

    int getRtpInfo(int id, RtpInfo& out) override
    {
        const auto it = channels.find(id);
        out = it == channels.end() ? RtpInfo() : it->second;
        return 0;
    }
    int startRtpInfo(const RtpInfo& info, int source, int startedType) override
    {
        calls.push_back({true, info.id, source, startedType});
        if (startResult == 0)
            channels[info.id].startedSource = source;
        return startResult;
    }
    int stopRtpInfo(const RtpInfo& info, int source, int startedType) override
    {
        calls.push_back({false, info.id, source, startedType});
        channels[info.id].startedSource = 0;
        return 0;
    }

    void add(int id, bool httpApi, int source, int startedSource = 0)
    {
        RtpInfo info;
        info.id = id;
        info.httpApi = httpApi ? 1 : 0;
        info.source = source;
        info.startedSource = startedSource;
        channels[id] = info;
    }

    std::map<int, RtpInfo> channels;
    std::vector<Call> calls;
    int startResult = 0;
};

TEST(SonarisHttpApiTest, OnlyTheApiPathIsOurs)
{
    EXPECT_TRUE(SonarisHttpApi::handles("/api"));
    for (const char* path : {"/apis", "/api/", "/api/x", "/API", "/stream/3", "/", ""})
        EXPECT_FALSE(SonarisHttpApi::handles(path)) << path;
}

TEST(SonarisHttpApiTest, AnswersEachCaseWithItsBody)
{
    const struct
    {
        const char* query;
        bool running;
        const char* body;
        int starts;
        int stops;
    } rows[] = {
        {"id=3", false, R"({"result":-1,"error":"invalid action"})", 0, 0},
        {"id=3&action=", false, R"({"result":-1,"error":"invalid action"})", 0, 0},
        {"id=3&action=starts", false, R"({"result":-1,"error":"invalid action"})", 0, 0},
        {"id=4&action=start", false, R"({"result":-1,"error":"rtp http api not enabled"})", 0, 0},
        {"id=4", false, R"({"result":-1,"error":"rtp http api not enabled"})", 0, 0},
        {"id=abc&action=start", false, R"({"result":-1,"error":"invalid id"})", 0, 0},
        {"id=99999999999&action=start", false, R"({"result":-1,"error":"invalid id"})", 0, 0},
        {"id=999&action=start", false, R"({"result":-1,"error":"invalid id"})", 0, 0},
        {"id=0&action=start", false, R"({"result":-1,"error":"invalid id"})", 0, 0},
        {"action=start", false, R"({"result":-1,"error":"invalid id"})", 0, 0},
        {"", false, R"({"result":-1,"error":"invalid id"})", 0, 0},
        {"action=START&id=3", false, R"({"result":0})", 1, 0},
        {"action=start&id=3", true, R"({"result":-1,"error":"rtp has been started"})", 0, 0},
        {"action=stop&id=3", true, R"({"result":0})", 0, 1},
        {"action=sToP&id=3", true, R"({"result":0})", 0, 1},
        {"action=stop&id=3", false, R"({"result":-1,"error":"rtp not started"})", 0, 0},
        // Decoded keys and values; the last of a repeated key counts.
        {"%69d=3&action=st%61rt", false, R"({"result":0})", 1, 0},
        {"id=1&id=3&action=stop&action=start", false, R"({"result":0})", 1, 0},
    };
    for (const auto& row : rows) {
        RecordingControl control;
        control.add(3, true, 1, row.running ? 1 : 0);
        control.add(4, false, 1);
        EXPECT_EQ(SonarisHttpApi::answer(control, row.query), row.body) << row.query;
        int starts = 0;
        int stops = 0;
        for (const RecordingControl::Call& call : control.calls) {
            EXPECT_EQ(call.id, 3) << row.query;
            EXPECT_EQ(call.trigger, RtpInfo::kTriggerHttp) << row.query;
            if (call.start) {
                ++starts;
                EXPECT_EQ(call.source, 1) << row.query;
            } else {
                ++stops;
                EXPECT_EQ(call.source, RtpInfo::kSourceAll) << row.query;
            }
        }
        EXPECT_EQ(starts, row.starts) << row.query;
        EXPECT_EQ(stops, row.stops) << row.query;
    }
}

// Only a whole decimal number names a channel; the query is decoded first, so "%201" is " 1".
TEST(SonarisHttpApiTest, IdsAreWholeDecimalNumbers)
{
    const struct
    {
        const char* id;
        bool valid;
    } rows[] = {
        {"3", true},     {"03", true},    {"3abc", false}, {"3.0", false},        {"+3", false},
        {"%203", false}, {"3%20", false}, {"+3+", false},  {"3e0", false},        {"0x3", false},
        {"-3", false},   {"3%00", false}, {"", false},     {"2147483650", false},
    };
    for (const auto& row : rows) {
        RecordingControl control;
        control.add(3, false, 1);
        const std::string query = std::string("action=start&id=") + row.id;
        EXPECT_EQ(SonarisHttpApi::answer(control, query),
                  row.valid ? R"({"result":-1,"error":"rtp http api not enabled"})"
                            : R"({"result":-1,"error":"invalid id"})")
            << query;
    }
}

TEST(SonarisHttpApiTest, StartUsesTheChannelsOwnSource)
{
    RecordingControl control;
    control.add(7, true, 16);
    EXPECT_EQ(SonarisHttpApi::answer(control, "action=start&id=7"), R"({"result":0})");
    ASSERT_EQ(control.calls.size(), 1u);
    EXPECT_EQ(control.calls[0].source, 16);
}

TEST(SonarisHttpApiTest, FailedStartReportsTheManagersCode)
{
    RecordingControl control;
    control.add(3, true, 1);
    for (int code : {-1, -7}) {
        control.startResult = code;
        EXPECT_EQ(SonarisHttpApi::answer(control, "action=start&id=3"),
                  "{\"result\":" + std::to_string(code) + ",\"error\":\"rtp start failed\"}");
    }
}

} // namespace
