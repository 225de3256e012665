#include "LoopP2pFrameReader.h"

void LoopP2pFrameReader::append(const char* data, size_t length)
{
    // Consumed bytes are dropped only once they outweigh the rest, so a stream of small frames
    // costs no copy per frame.
    if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(data, length);
}

LoopP2pFrameReader::Status LoopP2pFrameReader::next(LoopP2pFrame& frame)
{
    if (buffered() < kHeaderBytes)
        return NeedMore;
    const char* head = m_buffer.data() + m_offset;
    const uint32_t length = readU32(head + 1);
    if (length > kMaxBody)
        return TooLarge;
    if (buffered() < kHeaderBytes + length)
        return NeedMore;
    frame.kind = static_cast<uint8_t>(head[0]);
    frame.body.assign(head + kHeaderBytes, length);
    m_offset += kHeaderBytes + length;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    return Ready;
}

std::string LoopP2pFrameReader::header(uint8_t kind, uint32_t length)
{
    std::string out(1, static_cast<char>(kind));
    appendU32(out, length);
    return out;
}

std::string LoopP2pFrameReader::encode(LoopP2pFrameKind kind, const std::string& body)
{
    std::string out = header(static_cast<uint8_t>(kind), static_cast<uint32_t>(body.size()));
    out += body;
    return out;
}

void LoopP2pFrameReader::appendU32(std::string& out, uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, 4);
}

uint32_t LoopP2pFrameReader::readU32(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}
