#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One RTP payload format of a session description: what an m-line format and its rtpmap and
// fmtp attributes say. Created as a shared object and shared by pointer.
class SipPayload
{
public:
    enum Type : int { Unset = 0, Audio = 1, Video = 2 };

    std::string name; // encoding name as written ("PCMU", "opus", "telephone-event"); empty when unknown
    std::string fmtp; // format parameters, empty when none
    int32_t payloadType = 0; // 0 to 127
    int32_t clockRate = 0; // Hz
    int32_t channels = 0;
    int32_t ptime = 0; // packet time in ms; 0 = the session's default (20 ms)
    int32_t type = Unset;

    bool isAudio() const { return type == Audio; }
    bool isVideo() const { return type == Video; }
    // Same name (ignoring case) and payload type.
    bool sameFormat(const SipPayload& other) const;
};

using SipPayloadList = std::vector<std::shared_ptr<SipPayload>>;
