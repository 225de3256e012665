#pragma once

#include "RDThread.h"

class SipRtpSession;

// Paces a call medium's outgoing frames.
class SipRtpSendThread : public RDThread
{
public:
    explicit SipRtpSendThread(SipRtpSession* session);

protected:
    void run() override;

private:
    SipRtpSession* m_session;
};
