#include "SipRtpSendThread.h"

#include "SipRtpSession.h"

SipRtpSendThread::SipRtpSendThread(SipRtpSession* session) : m_session(session)
{
    setName("SipRtpSendThread");
}

void SipRtpSendThread::run()
{
    m_session->doSend(this);
}
