#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What travels on a session's connection, both ways: frames of [u8 kind][u32 big-endian body
// length][body]; integers inside bodies are big-endian as well.
enum class LoopP2pFrameKind : uint8_t
{
    Accepted = 1,  // device -> app, empty: the first frame of a session
    Refused = 2,   // device -> app, i32 code; the device then closes
    AvStart = 3,   // app -> device, account NUL password NUL
    AvOk = 4,      // device -> app, empty
    AvRefused = 5, // device -> app, i32 code
    IoCtrl = 6,    // both ways, u32 type then the message
    Audio = 7      // both ways, 16 bytes of frame information then the frame
};

struct LoopP2pFrame
{
    uint8_t kind = 0;
    std::string body;
};

// Splits a byte stream into frames. Pure: bytes in, frames out; it holds at most one frame's
// bytes plus what the caller appended last.
class LoopP2pFrameReader
{
public:
    // Bounds what one frame may make either side allocate; a larger length ends the session.
    static constexpr uint32_t kMaxBody = 256 * 1024;
    static constexpr size_t kHeaderBytes = 5;

    enum Status
    {
        NeedMore, // no whole frame buffered yet
        Ready,    // frame holds the next frame
        TooLarge  // the next frame announces more than kMaxBody; the stream is unusable
    };

    void append(const char* data, size_t length);
    Status next(LoopP2pFrame& frame);
    size_t buffered() const { return m_buffer.size() - m_offset; }

    // The frame header for a body of length bytes.
    static std::string header(uint8_t kind, uint32_t length);
    static std::string encode(LoopP2pFrameKind kind, const std::string& body);
    static void appendU32(std::string& out, uint32_t value);
    static uint32_t readU32(const char* bytes);

private:
    std::string m_buffer;
    size_t m_offset = 0;
};
