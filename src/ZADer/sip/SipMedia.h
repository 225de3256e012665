#pragma once

#include "RtpLayerSession.h"
#include "SipPayload.h"

#include <cstdint>
#include <memory>
#include <string>

// One medium (audio or video) of a call: what this agent declares and what the remote side
// described, with the two payloads chosen from them when the medium starts.
class SipMedia
{
public:
    enum Type : int { Undescribed = 0, Audio = 1, Video = 2 };
    enum Direction : int { SendRecv = 0, SendOnly = 1, RecvOnly = 2, Inactive = 3 };

    int32_t type = Undescribed; // set by the remote description
    std::string protocol; // transport token of the remote m-line ("RTP/AVP")

    int32_t localDirection = SendRecv;
    int32_t localPort = 0;
    // The sockets of localPort, bound when the answer announcing it was built, so that no other
    // program can take the port before the ACK starts the medium; its session takes them over.
    std::unique_ptr<RtpLayerSession> boundRtp;
    SipPayloadList localPayloads; // what the agent offers or answers with
    std::shared_ptr<SipPayload> sendPayload; // chosen at media start

    std::string remoteAddress;
    int32_t remoteDirection = SendRecv;
    int32_t remotePort = 0;
    SipPayloadList remotePayloads; // in m-line order
    std::shared_ptr<SipPayload> recvPayload; // the payload being received

    bool isDescribed() const { return type != Undescribed; }
    bool hasLocalPayloads() const { return !localPayloads.empty(); }
    bool hasRemotePayloads() const { return !remotePayloads.empty(); }
};
