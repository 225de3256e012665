#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Frame opcodes (RFC 6455 5.2); the values are the wire's.
enum class WSOpcode : uint8_t
{
    Continuation = 0,
    Text = 1,
    Binary = 2,
    Close = 8,
    Ping = 9,
    Pong = 10,
};

// Close status codes (RFC 6455 7.4.1) that this side sends or reads.
enum class WSCloseCode : uint16_t
{
    Normal = 1000,
    GoingAway = 1001,
    ProtocolError = 1002,
    NoStatus = 1005, // never on the wire: a close frame without a code
    PolicyViolation = 1008,
    MessageTooBig = 1009,
    InternalError = 1011,
};

// The head of one frame (RFC 6455 5.2): flags, opcode, payload length and masking key. Parsing
// is a pure function of the bytes at hand; encoding builds whole frames.
class WSFrameHeader
{
public:
    enum class Status
    {
        Ok,
        Incomplete,        // fewer bytes than the head needs: read more
        ReservedBits,      // RSV1-3 set without a negotiated extension (5.2)
        UnknownOpcode,     // 3-7, 11-15 (5.2)
        ControlTooLong,    // a control frame's payload over 125 bytes (5.5)
        ControlFragmented, // a control frame without FIN (5.5)
        LengthTooLarge,    // a 64-bit length of 2^31 or more (no message here comes near it)
    };

    // 2 bytes, 8 of extended length and 4 of key.
    static constexpr int kMaxSize = 14;
    static constexpr uint64_t kMaxControlPayload = 125;
    // Lengths from 2^31 up cannot be held; they are refused before anything is allocated.
    static constexpr uint64_t kMaxPayloadLength = 0x7fffffffULL;

    // Reads a head from the start of data. Anything but Ok leaves the fields unchanged.
    Status parse(const uint8_t* data, size_t length);

    // One final frame of the opcode around the payload. Unmasked, as a server sends it (5.1),
    // unless a 4-byte mask is given (a client's frame, for tests and tools).
    static std::string encode(WSOpcode opcode, const char* payload, size_t length, const uint8_t* mask = nullptr);
    // A close frame carrying the code (NoStatus: an empty one).
    static std::string encodeClose(WSCloseCode code);
    static std::string encodeClose(uint16_t code);
    // XORs the bytes with the key, byte j with key[(offset + j) mod 4].
    static void unmask(char* data, size_t length, const uint8_t mask[4], size_t offset = 0);
    static bool isControl(int opcode) { return opcode >= 8; }
    // The status code a refused frame closes the connection with.
    static WSCloseCode closeCodeFor(Status status);
    static const char* describe(Status status);

    bool fin = false;
    int opcode = -1;
    bool masked = false;
    uint8_t mask[4] = {0, 0, 0, 0};
    uint64_t payloadLength = 0;
    // Bytes of the head itself (2 to 14).
    int size = 0;
};
