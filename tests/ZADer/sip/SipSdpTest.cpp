#include "SipMedia.h"
#include "SipSdp.h"

#include <gtest/gtest.h>

#include <memory>
#include <strings.h>
#include <string>

namespace {

const char* const kHead = "v=0\r\no=- 1 1 IN IP4 10.0.0.9\r\ns=-\r\nc=IN IP4 10.0.0.9\r\nt=0 0\r\n";

// The audio and video media of a literal description.
struct Parsed
{
    SipMedia audio;
    SipMedia video;
    bool ok = false;
};

Parsed parse(const std::string& body)
{
    Parsed parsed;
    sdp_message_t* sdp = SipSdp::parse(body);
    if (!sdp)
        return parsed;
    parsed.ok = true;
    SipSdp::parseAudioMedia(sdp, parsed.audio);
    SipSdp::parseVideoMedia(sdp, parsed.video);
    sdp_message_free(sdp);
    return parsed;
}

std::string describe(const SipPayloadList& list)
{
    std::string text;
    for (const auto& payload : list) {
        text += std::to_string(payload->payloadType) + ":" + payload->name + "/" + std::to_string(payload->clockRate) +
                "/" + std::to_string(payload->channels);
        if (!payload->fmtp.empty())
            text += "[" + payload->fmtp + "]";
        text += " ";
    }
    return text;
}

} // namespace

// The remote half of an offer, the answer list, and what a call would send and receive.
TEST(SipSdpTest, OfferTable)
{
    struct Row
    {
        const char* media; // the m-line and its attributes
        const char* remote; // the remote payloads read
        const char* answer; // the answer list
        const char* chosen; // the payload type sent and received, "-" when none
        const char* why;
    };
    const Row rows[] = {
        {"m=audio 4000 RTP/AVP 0 8 101\r\na=rtpmap:101 telephone-event/8000\r\n",
         "0:PCMU/8000/1 8:PCMA/8000/1 101:telephone-event/8000/1 ", "0:PCMU/8000/1 8:PCMA/8000/1 101:telephone-event/8000/1[0-15] ",
         "0", "static names and an event type"},
        {"m=audio 4000 RTP/AVP 101 0\r\na=rtpmap:101 telephone-event/8000\r\n",
         "101:telephone-event/8000/1 0:PCMU/8000/1 ", "101:telephone-event/8000/1[0-15] 0:PCMU/8000/1 ", "0",
         "events listed first are never the medium"},
        {"m=audio 4000 RTP/AVP 96\r\n", "96:/0/0 ", "", "-", "dynamic type without rtpmap"},
        {"m=audio 4000 RTP/AVP 9\r\na=rtpmap:9 g722/8000\r\n", "9:g722/8000/1 ", "9:G722/8000/1 ", "9",
         "lower-case name"},
        {"m=audio 4000 RTP/AVP 111\r\na=rtpmap:111 opus/48000/1\r\n", "111:opus/48000/1 ", "111:opus/48000/2 ",
         "111", "opus is answered with two channels"},
        {"m=audio 4000 RTP/AVP 3\r\n", "3:GSM/8000/1 ", "", "-", "GSM cannot be decoded"},
        {"m=audio 4000 RTP/AVP 0 0 8\r\n", "0:PCMU/8000/1 0:PCMU/8000/1 8:PCMA/8000/1 ", "0:PCMU/8000/1 8:PCMA/8000/1 ",
         "0", "a repeated type is answered once"},
        {"m=audio 4000 RTP/AVP 96 0\r\na=rtpmap:96 PCMU/8000\r\n", "96:PCMU/8000/1 0:PCMU/8000/1 ", "0:PCMU/8000/1 ",
         "0", "a codec offered twice"},
        {"m=audio 4000 RTP/AVP 8 abc 200 -1\r\n", "8:PCMA/8000/1 ", "8:PCMA/8000/1 ", "8",
         "formats that are no payload type"},
        {"m=audio 4000 RTP/AVP 100 101\r\na=rtpmap:100 telephone-event/8000\r\na=rtpmap:101 telephone-event/8000\r\n",
         "100:telephone-event/8000/1 101:telephone-event/8000/1 ",
         "100:telephone-event/8000/1[0-15] 101:telephone-event/8000/1[0-15] ", "-", "nothing but events"},
        {"m=audio 4000 RTP/AVP 13 0\r\na=rtpmap:13 CN/8000\r\n", "13:CN/8000/1 0:PCMU/8000/1 ", "0:PCMU/8000/1 ", "0",
         "comfort noise is not answered"},
    };
    for (const Row& row : rows) {
        const Parsed parsed = parse(std::string(kHead) + row.media);
        ASSERT_TRUE(parsed.ok) << row.why;
        EXPECT_EQ(describe(parsed.audio.remotePayloads), row.remote) << row.why;
        const SipPayloadList answer = SipSdp::answerPayloads(parsed.audio.remotePayloads);
        EXPECT_EQ(describe(answer), row.answer) << row.why;
        const auto send = SipSdp::matchMediaPayload(parsed.audio.remotePayloads, answer);
        const auto recv = SipSdp::matchMediaPayload(answer, parsed.audio.remotePayloads);
        const std::string chosen = send ? std::to_string(send->payloadType) : "-";
        EXPECT_EQ(chosen, row.chosen) << row.why;
        EXPECT_EQ(static_cast<bool>(send), static_cast<bool>(recv)) << row.why;
        if (send && recv) {
            EXPECT_EQ(strcasecmp(send->name.c_str(), recv->name.c_str()), 0) << row.why;
        }
        EXPECT_EQ(SipSdp::hasMediaPayload(answer), std::string(row.chosen) != "-") << row.why;
    }
}

TEST(SipSdpTest, RemoteHalf)
{
    Parsed parsed = parse(std::string("v=0\r\no=- 1 1 IN IP4 10.0.0.9\r\ns=-\r\nc=IN IP4 10.0.0.9\r\nt=0 0\r\n") +
                          "m=audio 4000 RTP/AVP 0\r\nc=IN IP4 10.0.0.10\r\na=sendonly\r\na=sendrecv\r\n"
                          "m=video 5000 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\n"
                          "a=fmtp:97 profile-level-id=42e01f; packetization-mode=1\r\na=recvonly\r\n");
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.audio.type, SipMedia::Audio);
    EXPECT_EQ(parsed.audio.protocol, "RTP/AVP");
    EXPECT_EQ(parsed.audio.remoteAddress, "10.0.0.10") << "the m-line's own c= line";
    EXPECT_EQ(parsed.audio.remotePort, 4000);
    EXPECT_EQ(parsed.audio.remoteDirection, SipMedia::SendRecv) << "the later direction attribute wins";
    EXPECT_EQ(parsed.video.type, SipMedia::Video);
    EXPECT_EQ(parsed.video.remoteAddress, "10.0.0.9");
    EXPECT_EQ(parsed.video.remoteDirection, SipMedia::RecvOnly);
    ASSERT_EQ(parsed.video.remotePayloads.size(), 1u);
    EXPECT_EQ(parsed.video.remotePayloads[0]->fmtp, "profile-level-id=42e01f;") << "video keeps the first word";
    EXPECT_EQ(parsed.video.remotePayloads[0]->channels, 0);
    EXPECT_TRUE(parsed.video.remotePayloads[0]->isVideo());

    // Audio fmtp keeps the rest of the line.
    parsed = parse(std::string(kHead) + "m=audio 4000 RTP/AVP 101\r\na=rtpmap:101 telephone-event/8000\r\n"
                                        "a=fmtp:101 0-11, 16\r\n");
    ASSERT_EQ(parsed.audio.remotePayloads.size(), 1u);
    EXPECT_EQ(parsed.audio.remotePayloads[0]->fmtp, "0-11, 16");

    // No m-line of the kind, or no connection at all: nothing changes.
    SipMedia untouched;
    untouched.remotePort = 7;
    sdp_message_t* sdp = SipSdp::parse(std::string("v=0\r\no=- 1 1 IN IP4 1.2.3.4\r\ns=-\r\nt=0 0\r\n") +
                                       "m=audio 4000 RTP/AVP 0\r\n");
    ASSERT_NE(sdp, nullptr);
    SipSdp::parseAudioMedia(sdp, untouched);
    SipSdp::parseVideoMedia(sdp, untouched);
    sdp_message_free(sdp);
    EXPECT_FALSE(untouched.isDescribed());
    EXPECT_EQ(untouched.remotePort, 7);
}

TEST(SipSdpTest, Directions)
{
    EXPECT_EQ(SipSdp::reverseDirection(SipMedia::SendOnly), SipMedia::RecvOnly);
    EXPECT_EQ(SipSdp::reverseDirection(SipMedia::RecvOnly), SipMedia::SendOnly);
    EXPECT_EQ(SipSdp::reverseDirection(SipMedia::Inactive), SipMedia::Inactive);
    EXPECT_EQ(SipSdp::reverseDirection(SipMedia::SendRecv), SipMedia::SendRecv);
    EXPECT_EQ(SipSdp::reverseDirection(42), SipMedia::SendRecv);
}

// The answer's bytes: the description of the local media.
TEST(SipSdpTest, BuildAnswer)
{
    SipMedia audio;
    audio.type = SipMedia::Audio;
    audio.localPort = 20000;
    audio.localPayloads = {SipSdp::makePayload("PCMU", 0, 8000, 1, SipPayload::Audio),
                           SipSdp::makePayload("PCMA", 8, 8000, 1, SipPayload::Audio),
                           SipSdp::makePayload("telephone-event", 101, 8000, 1, SipPayload::Audio)};
    audio.localPayloads[2]->fmtp = "0-15";
    EXPECT_EQ(SipSdp::buildSdp("192.168.1.5", &audio, nullptr),
              "v=0\r\no=vint 0 0 IN IP4 192.168.1.5\r\ns=conversation\r\nc=IN IP4 192.168.1.5\r\nt=0 0\r\n"
              "m=audio 20000 RTP/AVP 0 8 101\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:8 PCMA/8000\r\n"
              "a=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\n");

    // Opus with its channel count; receive-only audio; video offered but not answered is
    // refused with port 0; video rtpmap lines never carry a channel count.
    audio.localPayloads = {SipSdp::makePayload("opus", 111, 48000, 2, SipPayload::Audio)};
    audio.localDirection = SipMedia::RecvOnly;
    SipMedia video;
    video.type = SipMedia::Video;
    video.remotePayloads = {SipSdp::makePayload("H264", 97, 90000, 0, SipPayload::Video)};
    std::string text = SipSdp::buildSdp("10.1.1.1", &audio, &video);
    EXPECT_NE(text.find("m=audio 20000 RTP/AVP 111\r\na=rtpmap:111 opus/48000/2\r\na=recvonly\r\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("m=video 0 RTP/AVP 97\r\n"), std::string::npos) << text;
    video.localPort = 20002;
    video.localPayloads = {SipSdp::makePayload("H264", 97, 90000, 2, SipPayload::Video)};
    text = SipSdp::buildSdp("10.1.1.1", &audio, &video);
    EXPECT_NE(text.find("m=video 20002 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\n"), std::string::npos) << text;

    // What we write, libosip2 reads back.
    sdp_message_t* sdp = SipSdp::parse(text);
    ASSERT_NE(sdp, nullptr);
    SipMedia back;
    SipSdp::parseAudioMedia(sdp, back);
    sdp_message_free(sdp);
    EXPECT_EQ(back.remotePort, 20000);
    EXPECT_EQ(back.remoteAddress, "10.1.1.1");
    EXPECT_EQ(back.remoteDirection, SipMedia::RecvOnly);
    EXPECT_EQ(describe(back.remotePayloads), "111:opus/48000/2 ");
}

// A description far larger than any real one: bounded reading, no overflow, one answer.
TEST(SipSdpTest, HugeOffer)
{
    std::string body = std::string(kHead) + "m=audio 4000 RTP/AVP";
    for (int i = 0; i < 400; ++i)
        body += " 0";
    body += "\r\n";
    for (int i = 0; i < 300; ++i)
        body += "a=rtpmap:" + std::to_string(96 + i % 32) + " " + std::string(300, 'x') + "/8000/1\r\n";
    body += "a=fmtp:0 " + std::string(5000, 'y') + "\r\n";
    const Parsed parsed = parse(body);
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.audio.remotePayloads.size(), static_cast<size_t>(SipSdp::kMaxFormats));
    EXPECT_EQ(parsed.audio.remotePayloads[0]->fmtp.size(), SipSdp::kMaxFmtpLength);
    const SipPayloadList answer = SipSdp::answerPayloads(parsed.audio.remotePayloads);
    ASSERT_EQ(answer.size(), 1u);
    SipMedia audio;
    audio.localPort = 30000;
    audio.localPayloads = answer;
    EXPECT_NE(SipSdp::buildSdp("127.0.0.1", &audio, nullptr).find("m=audio 30000 RTP/AVP 0\r\n"), std::string::npos);
}
