#include "WSFrameHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string text;
    for (int v : values)
        text.push_back(static_cast<char>(v));
    return text;
}

WSFrameHeader::Status parse(const std::string& data, WSFrameHeader* head)
{
    return head->parse(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

} // namespace

// RFC 6455 5.2: the shortest length form, FIN set, no mask from a server.
TEST(WSFrameHeader, ServerFramesAreUnmaskedWithTheShortestLength)
{
    const struct
    {
        size_t length;
        std::string head;
    } cases[] = {
        {0, bytes({0x81, 0x00})},
        {125, bytes({0x81, 0x7d})},
        {126, bytes({0x81, 0x7e, 0x00, 0x7e})},
        {65535, bytes({0x81, 0x7e, 0xff, 0xff})},
        {65536, bytes({0x81, 0x7f, 0, 0, 0, 0, 0x00, 0x01, 0x00, 0x00})},
        {70000, bytes({0x81, 0x7f, 0, 0, 0, 0, 0x00, 0x01, 0x11, 0x70})},
    };
    for (const auto& c : cases) {
        const std::string payload(c.length, 'x');
        const std::string frame = WSFrameHeader::encode(WSOpcode::Text, payload.data(), payload.size());
        ASSERT_EQ(frame.size(), c.head.size() + c.length) << c.length;
        EXPECT_EQ(frame.substr(0, c.head.size()), c.head) << c.length;
        EXPECT_EQ(frame.substr(c.head.size()), payload) << c.length;
    }
    EXPECT_EQ(WSFrameHeader::encodeClose(WSCloseCode::MessageTooBig), bytes({0x88, 0x02, 0x03, 0xf1}));
    EXPECT_EQ(WSFrameHeader::encodeClose(WSCloseCode::NoStatus), bytes({0x88, 0x00}));
    EXPECT_EQ(WSFrameHeader::encode(WSOpcode::Pong, "abc", 3), bytes({0x8a, 0x03, 'a', 'b', 'c'}));
}

// RFC 6455 5.7: the masked "Hello" of the examples.
TEST(WSFrameHeader, MaskedFrameOfTheRfcExample)
{
    const uint8_t key[4] = {0x37, 0xfa, 0x21, 0x3d};
    const std::string frame = WSFrameHeader::encode(WSOpcode::Text, "Hello", 5, key);
    EXPECT_EQ(frame, bytes({0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58}));
    WSFrameHeader head;
    ASSERT_EQ(parse(frame, &head), WSFrameHeader::Status::Ok);
    EXPECT_TRUE(head.fin);
    EXPECT_TRUE(head.masked);
    EXPECT_EQ(head.opcode, 1);
    EXPECT_EQ(head.payloadLength, 5u);
    EXPECT_EQ(head.size, 6);
    std::string body = frame.substr(6);
    WSFrameHeader::unmask(&body[0], body.size(), head.mask);
    EXPECT_EQ(body, "Hello");
}

TEST(WSFrameHeader, HeadsTable)
{
    const struct
    {
        const char* name;
        std::string data;
        WSFrameHeader::Status status;
        uint64_t length;
        int size;
    } cases[] = {
        {"one byte", bytes({0x81}), WSFrameHeader::Status::Incomplete, 0, 0},
        {"16-bit length cut", bytes({0x82, 0x7e, 0x01}), WSFrameHeader::Status::Incomplete, 0, 0},
        {"64-bit length cut", bytes({0x82, 0x7f, 0, 0, 0, 0, 0, 1}), WSFrameHeader::Status::Incomplete, 0, 0},
        {"key cut", bytes({0x82, 0x85, 1, 2, 3}), WSFrameHeader::Status::Incomplete, 0, 0},
        {"unmasked binary", bytes({0x82, 0x03}), WSFrameHeader::Status::Ok, 3, 2},
        {"16-bit length", bytes({0x82, 0xfe, 0x01, 0x00, 1, 2, 3, 4}), WSFrameHeader::Status::Ok, 256, 8},
        {"largest length held", bytes({0x82, 0xff, 0, 0, 0, 0, 0x7f, 0xff, 0xff, 0xff, 1, 2, 3, 4}),
         WSFrameHeader::Status::Ok, 0x7fffffff, 14},
        {"2 GiB", bytes({0x82, 0xff, 0, 0, 0, 0, 0x80, 0, 0, 0}), WSFrameHeader::Status::LengthTooLarge, 0, 0},
        {"upper half set", bytes({0x82, 0x7f, 0, 0, 0, 1, 0, 0, 0, 5}), WSFrameHeader::Status::LengthTooLarge, 0, 0},
        {"top bit set", bytes({0x82, 0x7f, 0x80, 0, 0, 0, 0, 0, 0, 5}), WSFrameHeader::Status::LengthTooLarge, 0, 0},
        {"rsv1", bytes({0xc1, 0x00}), WSFrameHeader::Status::ReservedBits, 0, 0},
        {"rsv3", bytes({0x91, 0x00}), WSFrameHeader::Status::ReservedBits, 0, 0},
        {"opcode 3", bytes({0x83, 0x00}), WSFrameHeader::Status::UnknownOpcode, 0, 0},
        {"opcode 11", bytes({0x8b, 0x00}), WSFrameHeader::Status::UnknownOpcode, 0, 0},
        {"ping of 125", bytes({0x89, 0x7d}), WSFrameHeader::Status::Ok, 125, 2},
        {"ping of 126", bytes({0x89, 0x7e, 0x00, 0x7e}), WSFrameHeader::Status::ControlTooLong, 0, 0},
        {"ping without fin", bytes({0x09, 0x00}), WSFrameHeader::Status::ControlFragmented, 0, 0},
        {"text without fin", bytes({0x01, 0x00}), WSFrameHeader::Status::Ok, 0, 2},
    };
    for (const auto& c : cases) {
        WSFrameHeader head;
        EXPECT_EQ(parse(c.data, &head), c.status) << c.name;
        EXPECT_EQ(head.payloadLength, c.length) << c.name;
        EXPECT_EQ(head.size, c.size) << c.name;
    }
    EXPECT_EQ(WSFrameHeader::closeCodeFor(WSFrameHeader::Status::LengthTooLarge), WSCloseCode::MessageTooBig);
    EXPECT_EQ(WSFrameHeader::closeCodeFor(WSFrameHeader::Status::UnknownOpcode), WSCloseCode::ProtocolError);
}
