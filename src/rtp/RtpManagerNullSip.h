#pragma once

#include "RtpManagerSip.h"

// The SIP side of a channel manager that has no SIP agent: no account registers, no channel
// has a call, so source kind 64 never starts.
class RtpManagerNullSip : public RtpManagerSip
{
public:
    int init(int port, int transport) override;
    void uninit() override {}
    int restart(int port) override;
    void unregisterAll() override {}
    int port() override { return 0; }
    bool addChannel(const RtpInfo&) override { return false; }
    bool removeChannel(const RtpInfo&) override { return false; }
    int channelState(int) override { return 0; }
    QString statusText(int) override { return QString(); }
    int findCallSource(const RtpInfo&, std::shared_ptr<RTPAudioReader>*) override { return -1; }
    void endCalls(const RtpInfo&) override {}
};
