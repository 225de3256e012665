#include "RtpLayerReceiveStats.h"
#include "RtpLayerRtcp.h"

#include <gtest/gtest.h>

#include <vector>

TEST(RtpLayerRtcpTest, IntervalStaysWithinTheRfcBounds)
{
    // Minimum 5 s (2.5 s for the first report), spread by 0.5..1.5 and divided by e - 3/2.
    const double low = RtpLayerRtcp::interval(2, 1, 500, true, 100, false, 0.5);
    const double high = RtpLayerRtcp::interval(2, 1, 500, true, 100, false, 1.5);
    EXPECT_NEAR(low, 2.5 / 1.21828, 1e-3);
    EXPECT_NEAR(high, 7.5 / 1.21828, 1e-3);
    EXPECT_NEAR(RtpLayerRtcp::interval(2, 1, 500, true, 100, true, 1.5), 3.75 / 1.21828, 1e-3);
    // Large sessions stretch the interval beyond the minimum.
    EXPECT_GT(RtpLayerRtcp::interval(1000, 1, 500, false, 100, false, 1.0), 100.0);
}

TEST(RtpLayerRtcpTest, CompoundReportIsWellFormed)
{
    uint8_t buffer[512];
    RtpLayerRtcp::SenderInfo info;
    info.ntpSeconds = 0x11223344;
    info.ntpFraction = 0x55667788;
    info.packetCount = 7;
    info.octetCount = 1120;
    RtpLayerRtcp::ReportBlock block;
    block.ssrc = 0xAABBCCDD;
    block.cumulativeLost = -5;
    size_t n = RtpLayerRtcp::writeSenderReport(buffer, sizeof(buffer), 42, info, &block);
    EXPECT_EQ(n, 52u);
    EXPECT_EQ(buffer[0], 0x81);
    EXPECT_EQ(buffer[1], 200);
    EXPECT_EQ(buffer[3], 52 / 4 - 1);
    // Cumulative loss as 24-bit two's complement.
    EXPECT_EQ(buffer[33], 0xFF);
    EXPECT_EQ(buffer[35], 0xFB);
    for (const std::string& cname : {std::string("a"), std::string("ab"), std::string("abc"), std::string("user@host")}) {
        const size_t sdes = RtpLayerRtcp::writeSourceDescription(buffer + n, sizeof(buffer) - n, 42, cname);
        ASSERT_EQ(sdes % 4, 0u) << cname;
        ASSERT_GE(sdes, 10 + cname.size() + 1) << cname;
        EXPECT_EQ(buffer[n + 3], sdes / 4 - 1);
        EXPECT_EQ(buffer[n + 10 + cname.size()], 0) << "item list ends with a null octet";
    }
    const size_t sdes = RtpLayerRtcp::writeSourceDescription(buffer + n, sizeof(buffer) - n, 42, "user@host");
    n += sdes;
    n += RtpLayerRtcp::writeBye(buffer + n, sizeof(buffer) - n, 42);

    std::vector<std::pair<uint32_t, uint32_t>> reports;
    EXPECT_TRUE(RtpLayerRtcp::readSenderReports(buffer, n, [&](uint32_t ssrc, uint32_t middle) {
        reports.emplace_back(ssrc, middle);
    }));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, 42u);
    EXPECT_EQ(reports[0].second, 0x33445566u);
    EXPECT_FALSE(RtpLayerRtcp::readSenderReports(buffer, n - 1, nullptr));
    EXPECT_EQ(RtpLayerRtcp::writeBye(buffer, 7, 1), 0u);
}

TEST(RtpLayerRtcpTest, ReportBlockCountsLossAcrossSequenceWrap)
{
    RtpLayerReceiveStats stats;
    RtpLayerRtcp::ReportBlock block;
    EXPECT_FALSE(stats.takeReportBlock(0, block));
    // 65530 .. 65535, 0 .. 9 with 2 and 3 missing: 16 expected, 14 received.
    uint32_t ts = 1000;
    for (uint32_t s = 65530; s < 65546; ++s, ts += 160) {
        const uint16_t seq = uint16_t(s);
        if (seq == 2 || seq == 3)
            continue;
        stats.onPacket(77, seq, ts, ts + 5000);
    }
    stats.onSenderReport(77, 0x12345678, 10.0);
    ASSERT_TRUE(stats.takeReportBlock(10.5, block));
    EXPECT_EQ(block.ssrc, 77u);
    EXPECT_EQ(block.extendedHighestSequence, 65536u + 9u);
    EXPECT_EQ(block.cumulativeLost, 2);
    EXPECT_EQ(block.fractionLost, (2 << 8) / 16);
    EXPECT_EQ(block.jitter, 0u) << "constant transit time";
    EXPECT_EQ(block.lastSenderReport, 0x12345678u);
    EXPECT_EQ(block.delaySinceLastSenderReport, 32768u);
    EXPECT_FALSE(stats.takeReportBlock(11, block)) << "nothing new since the last block";

    // A duplicate counts as received (negative loss is allowed), and jitter follows a late packet.
    stats.onPacket(77, 9, ts, ts + 5000 + 320);
    ASSERT_TRUE(stats.takeReportBlock(12, block));
    EXPECT_EQ(block.cumulativeLost, 1);
    EXPECT_EQ(block.fractionLost, 0);
    EXPECT_EQ(block.jitter, 20u);

    // Another SSRC starts over.
    stats.onPacket(99, 500, 0, 0);
    ASSERT_TRUE(stats.takeReportBlock(13, block));
    EXPECT_EQ(block.ssrc, 99u);
    EXPECT_EQ(block.extendedHighestSequence, 500u);
    EXPECT_EQ(block.cumulativeLost, 0);
    EXPECT_EQ(block.lastSenderReport, 0u);
}
