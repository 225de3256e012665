#pragma once

#include <memory>

class SipCall;
class SipChannel;

// A queued call command, run by the channels' command thread.
struct SipChannelCommand
{
    enum Type : int {
        MakeCall = 2,
        TerminateCall = 3,
    };

    int type = 0;
    std::shared_ptr<SipChannel> channel;
    std::shared_ptr<SipCall> call;
};
