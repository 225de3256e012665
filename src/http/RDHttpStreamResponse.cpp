#include "RDHttpStreamResponse.h"

#include "RDHttpConnection.h"

RDHttpStreamResponse::RDHttpStreamResponse()
{
    setHeader("Accept-Ranges", "none");
    setHeader("Access-Control-Allow-Origin", "*");
    setHeader("Access-Control-Allow-Headers", "Content-Type,X-Requested-With");
    setHeader("Content-Type", "audio/mpeg");
}

void RDHttpStreamResponse::send(RDHttpConnection* connection)
{
    if (connection)
        connection->writeAll(head());
}

void RDHttpStreamResponse::setIcyBr(int bitrate)
{
    setHeader("icy-br", std::to_string(bitrate));
}

void RDHttpStreamResponse::setIcySr(int sampleRate)
{
    setHeader("icy-sr", std::to_string(sampleRate));
}

void RDHttpStreamResponse::setIcyName(const std::string& name)
{
    setHeader("icy-name", name);
}

void RDHttpStreamResponse::setIcyMetaint(int interval)
{
    setHeader("icy-metaint", std::to_string(interval));
}

void RDHttpStreamResponse::setIcyPub(int pub)
{
    setHeader("icy-pub", std::to_string(pub));
}
