#include "SipSdp.h"

#include "RDString.h"
#include "SipStackSdp.h"

#include <osipparser2/osip_port.h>

#include <climits>
#include <cstring>

namespace {

// A decimal integer at p (leading blanks and a sign allowed), clamped to the int range; p moves
// past it. False when no digit follows.
bool readInt(const char*& p, int* value)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return false;
    long long result = 0;
    while (*p >= '0' && *p <= '9') {
        if (result < INT_MAX)
            result = result * 10 + (*p - '0');
        ++p;
    }
    if (result > INT_MAX)
        result = INT_MAX;
    *value = static_cast<int>(negative ? -result : result);
    return true;
}

// A whole text that is a decimal number; -1 otherwise.
int wholeNumber(const char* text)
{
    if (!text)
        return -1;
    const char* p = text;
    int value = 0;
    if (*p == '+' || *p == '-' || !readInt(p, &value) || *p != '\0')
        return -1;
    return value;
}

void skipBlanks(const char*& p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
}

struct AnswerRow
{
    const char* name;
    int payloadType; // -1: the remote payload type
    int clockRate;
    int channels;
    const char* fmtp;
};

// The codecs a call can decode (opus, G.722, G.711) and RFC 4733 events.
const AnswerRow kAnswerRows[] = {
    {"opus", -1, 48000, 2, ""},
    {"G722", 9, 8000, 1, ""},
    {"PCMU", 0, 8000, 1, ""},
    {"PCMA", 8, 8000, 1, ""},
    {SipSdp::kTelephoneEvent, -1, 8000, 1, "0-15"},
};

struct StaticName
{
    int payloadType;
    const char* name;
};

const StaticName kStaticNames[] = {{0, "PCMU"}, {3, "GSM"}, {4, "G723"}, {8, "PCMA"}, {9, "G722"}};

const char* directionLine(int direction)
{
    switch (direction) {
    case SipMedia::SendOnly:
        return "a=sendonly\r\n";
    case SipMedia::RecvOnly:
        return "a=recvonly\r\n";
    case SipMedia::Inactive:
        return "a=inactive\r\n";
    default:
        return "";
    }
}

void appendMedia(std::string& out, const char* kind, const SipMedia& media, bool channelsInRtpmap)
{
    if (!media.hasLocalPayloads()) {
        if (!media.isDescribed())
            return;
        // Refused: the answer keeps one m-line per offered medium (RFC 3264), with port 0.
        const int format = media.hasRemotePayloads() ? media.remotePayloads.front()->payloadType : 0;
        out += "m=" + std::string(kind) + " 0 RTP/AVP " + std::to_string(format) + "\r\n";
        return;
    }
    out += "m=" + std::string(kind) + " " + std::to_string(media.localPort) + " RTP/AVP";
    for (const auto& payload : media.localPayloads)
        out += " " + std::to_string(payload->payloadType);
    out += "\r\n";
    for (const auto& payload : media.localPayloads) {
        out += "a=rtpmap:" + std::to_string(payload->payloadType) + " " + payload->name + "/" +
               std::to_string(payload->clockRate);
        if (channelsInRtpmap && payload->channels >= 2)
            out += "/" + std::to_string(payload->channels);
        out += "\r\n";
        if (!payload->fmtp.empty())
            out += "a=fmtp:" + std::to_string(payload->payloadType) + " " + payload->fmtp + "\r\n";
    }
    out += directionLine(media.localDirection);
}

} // namespace

std::shared_ptr<SipPayload> SipSdp::makePayload(const std::string& name, int payloadType, int clockRate,
                                                int channels, int type)
{
    auto payload = std::make_shared<SipPayload>();
    payload->name = name;
    payload->payloadType = payloadType;
    payload->clockRate = clockRate;
    payload->channels = channels;
    payload->type = type;
    return payload;
}

std::shared_ptr<SipPayload> SipSdp::findPayload(const SipPayloadList& list, int payloadType)
{
    for (const auto& payload : list) {
        if (payload && payload->payloadType == payloadType)
            return payload;
    }
    return nullptr;
}

std::shared_ptr<SipPayload> SipSdp::matchPayload(const SipPayloadList& a, const SipPayloadList& b)
{
    for (const auto& candidate : b) {
        if (!candidate)
            continue;
        for (const auto& other : a) {
            if (other && compareIgnoreCase(candidate->name, other->name) == 0)
                return candidate;
        }
    }
    return nullptr;
}

bool SipSdp::isSignallingPayload(const SipPayload& payload)
{
    return compareIgnoreCase(payload.name, kTelephoneEvent) == 0 || compareIgnoreCase(payload.name, "CN") == 0;
}

std::shared_ptr<SipPayload> SipSdp::matchMediaPayload(const SipPayloadList& a, const SipPayloadList& b)
{
    SipPayloadList media;
    for (const auto& payload : b) {
        if (payload && !payload->name.empty() && !isSignallingPayload(*payload))
            media.push_back(payload);
    }
    return matchPayload(a, media);
}

bool SipSdp::hasMediaPayload(const SipPayloadList& list)
{
    for (const auto& payload : list) {
        if (payload && !payload->name.empty() && !isSignallingPayload(*payload))
            return true;
    }
    return false;
}

int SipSdp::reverseDirection(int direction)
{
    switch (direction) {
    case SipMedia::SendOnly:
        return SipMedia::RecvOnly;
    case SipMedia::RecvOnly:
        return SipMedia::SendOnly;
    case SipMedia::Inactive:
        return SipMedia::Inactive;
    default:
        return SipMedia::SendRecv;
    }
}

SipPayloadList SipSdp::answerPayloads(const SipPayloadList& remote)
{
    SipPayloadList answer;
    for (const auto& offered : remote) {
        if (!offered)
            continue;
        for (const AnswerRow& row : kAnswerRows) {
            if (compareIgnoreCase(offered->name, row.name) != 0)
                continue;
            const int payloadType = row.payloadType >= 0 ? row.payloadType : offered->payloadType;
            // A payload type answered twice would make an m-line that names it twice.
            if (!findPayload(answer, payloadType)) {
                auto payload = makePayload(row.name, payloadType, row.clockRate, row.channels, SipPayload::Audio);
                payload->fmtp = row.fmtp;
                answer.push_back(payload);
            }
            break;
        }
    }
    return answer;
}

std::string SipSdp::buildSdp(const std::string& localIp, const SipMedia* audio, const SipMedia* video)
{
    std::string out = "v=0\r\no=vint 0 0 IN IP4 " + localIp + "\r\ns=conversation\r\nc=IN IP4 " + localIp +
                      "\r\nt=0 0\r\n";
    if (audio)
        appendMedia(out, "audio", *audio, true);
    if (video)
        appendMedia(out, "video", *video, false);
    return out;
}

void SipSdp::parseAudioMedia(sdp_message_t* sdp, SipMedia& media)
{
    parseMedia(sdp, media, false);
}

void SipSdp::parseVideoMedia(sdp_message_t* sdp, SipMedia& media)
{
    parseMedia(sdp, media, true);
}

void SipSdp::parseMedia(sdp_message_t* sdp, SipMedia& media, bool video)
{
    sdp_media_t* line = SipStackSdp::firstMedia(sdp, video ? "video" : "audio");
    sdp_connection_t* connection = SipStackSdp::connectionOf(sdp, line);
    if (!line || !connection)
        return;
    const int type = video ? SipPayload::Video : SipPayload::Audio;

    SipPayloadList working;
    for (int i = 0; !osip_list_eol(&line->m_payloads, i) && static_cast<int>(working.size()) < kMaxFormats; ++i) {
        const int payloadType = wholeNumber(static_cast<const char*>(osip_list_get(&line->m_payloads, i)));
        // Not an RTP payload type: nothing can be sent or received with it.
        if (payloadType < 0 || payloadType > 127)
            continue;
        working.push_back(makePayload(std::string(), payloadType, 0, 0, type));
    }

    int direction = SipMedia::SendRecv;
    for (int i = 0; !osip_list_eol(&line->a_attributes, i); ++i) {
        auto* attribute = static_cast<sdp_attribute_t*>(osip_list_get(&line->a_attributes, i));
        if (!attribute || !attribute->a_att_field)
            continue;
        const char* field = attribute->a_att_field;
        const char* value = attribute->a_att_value ? attribute->a_att_value : "";
        if (compareStringIgnoreCase(field, "rtpmap") == 0) {
            const char* p = value;
            int payloadType = -1;
            if (!readInt(p, &payloadType))
                continue;
            skipBlanks(p);
            const char* slash = std::strchr(p, '/');
            std::string name(p, slash ? static_cast<size_t>(slash - p) : std::strlen(p));
            int clockRate = 0;
            int channels = 0;
            if (name.size() > kMaxNameLength) {
                name.resize(kMaxNameLength);
            } else if (slash) {
                p = slash + 1;
                if (readInt(p, &clockRate) && *p == '/') {
                    ++p;
                    readInt(p, &channels);
                }
            }
            if (auto payload = findPayload(working, payloadType)) {
                payload->name = name;
                payload->clockRate = clockRate;
                payload->channels = video || channels >= 1 ? channels : 1;
            }
        } else if (compareStringIgnoreCase(field, "fmtp") == 0) {
            const char* p = value;
            int payloadType = -1;
            if (!readInt(p, &payloadType))
                continue;
            skipBlanks(p);
            // Audio keeps the rest of the line, video its first word.
            const size_t length = video ? std::strcspn(p, " \t\r\n") : std::strcspn(p, "\r\n");
            std::string text(p, std::min(length, kMaxFmtpLength));
            if (text.empty())
                continue;
            if (auto payload = findPayload(working, payloadType))
                payload->fmtp = text;
        } else if (compareStringIgnoreCase(field, "sendrecv") == 0) {
            direction = SipMedia::SendRecv;
        } else if (compareStringIgnoreCase(field, "sendonly") == 0) {
            direction = SipMedia::SendOnly;
        } else if (compareStringIgnoreCase(field, "recvonly") == 0) {
            direction = SipMedia::RecvOnly;
        } else if (compareStringIgnoreCase(field, "inactive") == 0) {
            direction = SipMedia::Inactive;
        }
    }

    if (!video) {
        for (const auto& payload : working) {
            if (!payload->name.empty())
                continue;
            for (const StaticName& known : kStaticNames) {
                if (known.payloadType == payload->payloadType) {
                    payload->name = known.name;
                    payload->clockRate = 8000;
                    payload->channels = 1;
                    break;
                }
            }
        }
    }

    media.type = type;
    media.protocol = stringFromCStr(line->m_proto);
    media.remoteAddress = stringFromCStr(connection->c_addr);
    const int port = wholeNumber(line->m_port);
    media.remotePort = port >= 0 && port <= 65535 ? port : 0;
    media.remotePayloads = working;
    media.remoteDirection = direction;
}

sdp_message_t* SipSdp::parse(const char* text, size_t length)
{
    return SipStackSdp::parse(text, length);
}
