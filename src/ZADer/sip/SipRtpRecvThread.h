#pragma once

#include "RDThread.h"

class SipRtpSession;

// Takes a call medium's incoming RTP.
class SipRtpRecvThread : public RDThread
{
public:
    explicit SipRtpRecvThread(SipRtpSession* session);

protected:
    void run() override;

private:
    SipRtpSession* m_session;
};
