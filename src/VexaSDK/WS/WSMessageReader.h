#pragma once

#include "WSFrameHeader.h"

#include <string>

// Turns the bytes a client sends after its handshake into messages (RFC 6455 5.4-5.5): frames
// are unmasked, fragments joined, and control frames handed out the moment they arrive, also
// between the fragments of a message. Pure: no socket, no thread. Memory stays bounded: a frame
// whose length would take a message past kMaxMessageBytes is refused from its head, before any
// of its payload is kept.
//
// RFC 6455 5.1: every frame from a client is masked; an unmasked one is an Error (1002). A
// continuation frame that starts a message counts as binary, as the program always took it.
class WSMessageReader
{
public:
    enum class Event
    {
        NeedMore, // no whole message or control frame yet: append more bytes
        Text,
        Binary,
        Ping,
        Pong,
        Close,    // the peer's close; closeCode() is its code (NoStatus for none)
        Error,    // the stream breaks the protocol; closeCode() is what to close with
    };

    // Fragments summed; the remote apps' messages and audio frames are a few KiB.
    static constexpr int kMaxMessageBytes = 1024 * 1024;

    // Appends received bytes. Ignored after Close or Error.
    void append(const char* data, size_t length);
    // The next event from the bytes appended so far. For Text, Binary, Ping and Pong payload
    // receives the whole message (for Close the reason text); other events leave it empty.
    // Close and Error are final: every later call returns them again.
    Event next(std::string* payload);

    int closeCode() const { return m_closeCode; }
    // What was wrong, for the log, after Error.
    const char* error() const { return m_error; }
    // Bytes held: unread input and the message being assembled.
    size_t held() const { return m_input.size() - m_read + m_message.size(); }

private:
    Event fail(WSCloseCode code, const char* why);
    Event readClose(std::string* payload);
    void compact();

    std::string m_input;
    size_t m_read = 0;
    // The message being assembled from fragments; -1 when none is open.
    int m_messageOpcode = -1;
    std::string m_message;
    Event m_final = Event::NeedMore;
    int m_closeCode = 0;
    const char* m_error = "";
};
