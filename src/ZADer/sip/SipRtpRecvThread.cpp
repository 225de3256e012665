#include "SipRtpRecvThread.h"

#include "SipRtpSession.h"

SipRtpRecvThread::SipRtpRecvThread(SipRtpSession* session) : m_session(session)
{
    setName("SipRtpRecvThread");
}

void SipRtpRecvThread::run()
{
    m_session->doReceive(this);
}
