#pragma once

#include <string>

class RtpManagerControl;

// The channel control of the HTTP server: "/api?action=start|stop&id=<channel id>". A channel
// obeys it only while its HTTP API switch is on. The answer is always a JSON body; the HTTP
// status stays 200 as browsers and scripts that poll it expect.
class SonarisHttpApi
{
public:
    // Whether a request for this (decoded) path is ours. Only "/api" itself: "/apis" or
    // "/api/x" go to the server's default handling like any unknown path.
    static bool handles(const std::string& path);

    // Runs the request's action on the channel and returns the body to send. The query is the
    // raw text after "?" (not decoded). Start and stop run synchronously on the caller's thread
    // with RtpInfo::kTriggerHttp; a stop stops every source kind of the channel. An id that is
    // not a whole decimal number (digits only, after decoding) is answered as an invalid id.
    static std::string answer(RtpManagerControl& control, const std::string& query);
};
