#include "RDFunctionThread.h"

#include <utility>

RDFunctionThread::RDFunctionThread(const char* name, Body body, std::function<void()> onStop)
    : m_body(std::move(body)), m_onStop(std::move(onStop))
{
    setName(name);
}

void RDFunctionThread::stop()
{
    RDThread::stop();
    if (m_onStop)
        m_onStop();
}

void RDFunctionThread::run()
{
    if (m_body)
        m_body(this);
}
