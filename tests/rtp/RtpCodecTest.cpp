#include "RtpCodec.h"
#include "RtpInfoSession.h"

#include <gtest/gtest.h>

// The stored codec index against what goes on the wire; peers and stored records rely on both.
TEST(RtpCodec, RecordIndexToWire)
{
    struct Case
    {
        int index;
        int payloadType;
        int clockRate;
        int channels;
    } cases[] = {
        {RtpCodec::kIndexPcmu, 0, 8000, 1},       {RtpCodec::kIndexPcma, 8, 8000, 1},
        {RtpCodec::kIndexG722, 9, 8000, 1},       {RtpCodec::kIndexMp3, 14, 44100, 2},
        {RtpCodec::kIndexL16Mono, 11, 44100, 1}, {RtpCodec::kIndexL16Stereo, 10, 44100, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RtpInfoSession::codecPayloadType(c.index), c.payloadType) << c.index;
        const RtpInfoSession::Codec sent = RtpInfoSession::codec(c.index);
        EXPECT_EQ(sent.payloadType, c.payloadType) << c.index;
        EXPECT_EQ(sent.clockRate, c.clockRate) << c.index;
        EXPECT_EQ(sent.channels, c.channels) << c.index;
        const RtpCodec* row = RtpCodec::byPayloadType(c.payloadType);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->index, c.index);
    }
    // An unknown index sends PCMU but names no payload type for sources.
    for (int index : {-1, 6, 99}) {
        EXPECT_EQ(RtpInfoSession::codecPayloadType(index), -1) << index;
        EXPECT_EQ(RtpInfoSession::codec(index).payloadType, 0) << index;
        EXPECT_EQ(RtpCodec::byIndex(index), nullptr) << index;
    }
    for (int payloadType : {-1, 1, 3, 96, 127})
        EXPECT_EQ(RtpCodec::byPayloadType(payloadType), nullptr) << payloadType;
    EXPECT_EQ(RtpCodec::byPayloadType(RtpCodec::kPayloadG722)->sampleRate, 16000);
}
