#include "WSMessageReader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const uint8_t kKey[4] = {0xa1, 0x5b, 0x03, 0xee};

// A masked client frame; fin false leaves the message open.
std::string frame(WSOpcode opcode, const std::string& payload, bool fin = true)
{
    std::string data = WSFrameHeader::encode(opcode, payload.data(), payload.size(), kKey);
    if (!fin)
        data[0] = static_cast<char>(data[0] & 0x7f);
    return data;
}

using Events = std::vector<std::pair<WSMessageReader::Event, std::string>>;

// Everything the reader hands out for the stream, fed in pieces of chunk bytes.
Events readAll(const std::string& stream, size_t chunk, WSMessageReader* reader)
{
    Events events;
    std::string payload;
    for (size_t at = 0; at < stream.size(); at += chunk) {
        reader->append(stream.data() + at, std::min(chunk, stream.size() - at));
        for (;;) {
            const WSMessageReader::Event event = reader->next(&payload);
            if (event == WSMessageReader::Event::NeedMore)
                break;
            events.emplace_back(event, payload);
            if (event == WSMessageReader::Event::Close || event == WSMessageReader::Event::Error)
                return events;
        }
    }
    return events;
}

using E = WSMessageReader::Event;

} // namespace

TEST(WSMessageReader, StreamsTable)
{
    const std::string big(70000, 'b');
    const struct
    {
        const char* name;
        std::string stream;
        Events events;
        int closeCode;
    } cases[] = {
        {"text", frame(WSOpcode::Text, "{\"id\":1}"), {{E::Text, "{\"id\":1}"}}, 0},
        // RFC 6455 5.1: client frames are masked, or the connection ends with 1002.
        {"unmasked text", WSFrameHeader::encode(WSOpcode::Text, "hi", 2), {{E::Error, ""}}, 1002},
        {"unmasked ping after a message",
         frame(WSOpcode::Text, "a") + WSFrameHeader::encode(WSOpcode::Ping, "p", 1),
         {{E::Text, "a"}, {E::Error, ""}},
         1002},
        {"70,000-byte binary", frame(WSOpcode::Binary, big), {{E::Binary, big}}, 0},
        {"empty text", frame(WSOpcode::Text, ""), {{E::Text, ""}}, 0},
        {"ping between fragments",
         frame(WSOpcode::Text, "ab", false) + frame(WSOpcode::Ping, "xyz") + frame(WSOpcode::Continuation, "cd", false) +
             frame(WSOpcode::Pong, "") + frame(WSOpcode::Continuation, "ef"),
         {{E::Ping, "xyz"}, {E::Pong, ""}, {E::Text, "abcdef"}},
         0},
        {"continuation first counts as binary", frame(WSOpcode::Continuation, "\x01z"), {{E::Binary, "\x01z"}}, 0},
        {"empty ping", frame(WSOpcode::Ping, ""), {{E::Ping, ""}}, 0},
        {"close with code and reason", frame(WSOpcode::Close, std::string("\x03\xe8" "bye", 5)) + frame(WSOpcode::Text, "late"),
         {{E::Close, "bye"}},
         1000},
        {"empty close", frame(WSOpcode::Close, ""), {{E::Close, ""}}, 1005},
        {"close of one byte", frame(WSOpcode::Close, "\x03"), {{E::Error, ""}}, 1002},
        {"close code 1005 on the wire", frame(WSOpcode::Close, "\x03\xed"), {{E::Error, ""}}, 1002},
        {"new message inside a fragmented one", frame(WSOpcode::Text, "a", false) + frame(WSOpcode::Binary, "b"),
         {{E::Error, ""}},
         1002},
        {"fragments over 1 MiB",
         frame(WSOpcode::Binary, std::string(600000, 'x'), false) + frame(WSOpcode::Continuation, std::string(600000, 'y')),
         {{E::Error, ""}},
         1009},
        {"unknown opcode", frame(static_cast<WSOpcode>(5), "x"), {{E::Error, ""}}, 1002},
        {"2 GiB length", std::string("\x82\xff\x00\x00\x00\x00\x80\x00\x00\x00", 10), {{E::Error, ""}}, 1009},
    };
    for (const auto& c : cases) {
        for (size_t chunk : {c.stream.size(), size_t(1), size_t(7), size_t(4096)}) {
            WSMessageReader reader;
            const Events events = readAll(c.stream, chunk, &reader);
            ASSERT_EQ(events.size(), c.events.size()) << c.name << " in pieces of " << chunk;
            for (size_t i = 0; i < events.size(); ++i) {
                EXPECT_EQ(events[i].first, c.events[i].first) << c.name << " event " << i;
                EXPECT_EQ(events[i].second, c.events[i].second) << c.name << " event " << i;
            }
            EXPECT_EQ(reader.closeCode(), c.closeCode) << c.name;
        }
    }
}

// A message that would pass the limit is refused from its head: the payload is never waited for
// and nothing of it is kept.
TEST(WSMessageReader, OversizeIsRefusedFromTheHeadAlone)
{
    WSMessageReader reader;
    const std::string first = frame(WSOpcode::Text, std::string(WSMessageReader::kMaxMessageBytes, 'a'), false);
    const std::string head = frame(WSOpcode::Continuation, "x").substr(0, 6);
    reader.append(first.data(), first.size());
    std::string payload;
    EXPECT_EQ(reader.next(&payload), E::NeedMore);
    EXPECT_EQ(reader.held(), static_cast<size_t>(WSMessageReader::kMaxMessageBytes));
    reader.append(head.data(), head.size());
    EXPECT_EQ(reader.next(&payload), E::Error);
    EXPECT_EQ(reader.closeCode(), 1009);
    EXPECT_EQ(reader.held(), 0u);
    // Final: more bytes change nothing.
    reader.append("\x81\x00", 2);
    EXPECT_EQ(reader.next(&payload), E::Error);
    EXPECT_EQ(reader.held(), 0u);
}

TEST(WSMessageReader, MessageOfExactlyTheLimitPasses)
{
    WSMessageReader reader;
    const std::string stream = frame(WSOpcode::Binary, std::string(WSMessageReader::kMaxMessageBytes - 1, 'a'), false) +
                               frame(WSOpcode::Continuation, "z");
    const Events events = readAll(stream, 65536, &reader);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, E::Binary);
    EXPECT_EQ(events[0].second.size(), static_cast<size_t>(WSMessageReader::kMaxMessageBytes));
}
