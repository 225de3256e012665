#pragma once

#include "RDHttpResponse.h"

// The head of a live audio stream, with the ICY (SHOUTcast) headers; the audio itself is
// written by the stream server.
class RDHttpStreamResponse : public RDHttpResponse
{
public:
    RDHttpStreamResponse();
    ~RDHttpStreamResponse() override = default;

    // Sends the head only.
    void send(RDHttpConnection* connection) override;

    void setIcyBr(int bitrate);
    void setIcySr(int sampleRate);
    void setIcyName(const std::string& name);
    void setIcyMetaint(int interval);
    void setIcyPub(int pub);
};
