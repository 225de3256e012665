#include "WSMessageReader.h"

#include "RDBigEndian.h"

namespace {

// Status codes a peer may send (RFC 6455 7.4.1, 7.4.2 and the IANA registry); 1005, 1006 and
// 1015 are never sent.
bool isSendableCloseCode(int code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

} // namespace

void WSMessageReader::append(const char* data, size_t length)
{
    if (m_final != Event::NeedMore || !data || length == 0)
        return;
    compact();
    m_input.append(data, length);
}

WSMessageReader::Event WSMessageReader::next(std::string* payload)
{
    payload->clear();
    if (m_final != Event::NeedMore)
        return m_final;
    // Each pass takes one whole frame out of the input; data fragments join the open message and
    // the loop goes on, anything else is handed out at once.
    for (;;) {
        const uint8_t* at = reinterpret_cast<const uint8_t*>(m_input.data()) + m_read;
        const size_t available = m_input.size() - m_read;
        WSFrameHeader head;
        const WSFrameHeader::Status status = head.parse(at, available);
        if (status == WSFrameHeader::Status::Incomplete)
            return Event::NeedMore;
        if (status != WSFrameHeader::Status::Ok)
            return fail(WSFrameHeader::closeCodeFor(status), WSFrameHeader::describe(status));
        // RFC 6455 5.1: a server closes the connection on an unmasked client frame; judged from
        // the head, before any of its payload is kept.
        if (!head.masked)
            return fail(WSCloseCode::ProtocolError, "unmasked client frame");

        const bool control = WSFrameHeader::isControl(head.opcode);
        if (!control) {
            const bool continuation = head.opcode == static_cast<int>(WSOpcode::Continuation);
            // RFC 6455 5.4: a new data frame may not interrupt an open message.
            if (!continuation && m_messageOpcode >= 0)
                return fail(WSCloseCode::ProtocolError, "data frame inside a fragmented message");
            if (m_message.size() + head.payloadLength > static_cast<uint64_t>(kMaxMessageBytes))
                return fail(WSCloseCode::MessageTooBig, "message over 1 MiB");
        }
        if (available - head.size < head.payloadLength)
            return Event::NeedMore;

        char* body = &m_input[m_read + head.size];
        const size_t length = static_cast<size_t>(head.payloadLength);
        WSFrameHeader::unmask(body, length, head.mask);
        m_read += head.size + length;

        if (control) {
            payload->assign(body, length);
            switch (static_cast<WSOpcode>(head.opcode)) {
            case WSOpcode::Ping:
                return Event::Ping;
            case WSOpcode::Pong:
                return Event::Pong;
            default:
                return readClose(payload);
            }
        }
        if (m_messageOpcode < 0) {
            m_messageOpcode = head.opcode == static_cast<int>(WSOpcode::Text) ? head.opcode
                                                                                : static_cast<int>(WSOpcode::Binary);
        }
        m_message.append(body, length);
        if (!head.fin)
            continue;
        const Event event = m_messageOpcode == static_cast<int>(WSOpcode::Text) ? Event::Text : Event::Binary;
        payload->swap(m_message);
        m_message.clear();
        m_messageOpcode = -1;
        return event;
    }
}

WSMessageReader::Event WSMessageReader::readClose(std::string* payload)
{
    // RFC 6455 5.5.1: empty, or a 2-byte code and a reason.
    if (payload->empty()) {
        m_closeCode = static_cast<int>(WSCloseCode::NoStatus);
    } else {
        const int code = payload->size() < 2 ? 0 : readBe16(reinterpret_cast<const uint8_t*>(payload->data()));
        if (!isSendableCloseCode(code)) {
            payload->clear();
            return fail(WSCloseCode::ProtocolError, code ? "close code not allowed on the wire" : "close frame of 1 byte");
        }
        m_closeCode = code;
        payload->erase(0, 2);
    }
    m_final = Event::Close;
    m_input.clear();
    m_read = 0;
    m_message.clear();
    return Event::Close;
}

WSMessageReader::Event WSMessageReader::fail(WSCloseCode code, const char* why)
{
    m_closeCode = static_cast<int>(code);
    m_error = why;
    m_final = Event::Error;
    m_input.clear();
    m_read = 0;
    m_message.clear();
    return Event::Error;
}

void WSMessageReader::compact()
{
    if (m_read == 0)
        return;
    m_input.erase(0, m_read);
    m_read = 0;
}
