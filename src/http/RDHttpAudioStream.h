#pragma once

#include <string>

// A live audio stream published by the stream server under a request path.
class RDHttpAudioStream
{
public:
    RDHttpAudioStream() = default;
    virtual ~RDHttpAudioStream() = default;
    RDHttpAudioStream(const RDHttpAudioStream&) = default;
    RDHttpAudioStream& operator=(const RDHttpAudioStream&) = default;

    // Two streams are the same stream when their paths are equal; nothing else is compared.
    bool isSameStream(const RDHttpAudioStream& other) const { return path == other.path; }

    // The decoded request path without query that selects the stream, e.g. "/stream/7".
    std::string path;
    // Sent as icy-name.
    std::string name;
    std::string contentType = "audio/mpeg";
    // Bits per second (icy-br) and Hz (icy-sr).
    int bitrate = 0;
    int sampleRate = 0;
    // The ICY metadata interval in bytes; a stream needs one above 0.
    int bufferSize = 0;
};
