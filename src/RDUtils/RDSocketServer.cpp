#include "RDSocketServer.h"

#include <poll.h>

RDSocketServer::~RDSocketServer()
{
    m_handle.close();
}

bool RDSocketServer::isValid() const
{
    return m_handle.isValid();
}

int RDSocketServer::setNonBlocking()
{
    return m_handle.setNonBlocking();
}

int RDSocketServer::waitReadable(int seconds, int microseconds)
{
    return m_handle.waitReadable(seconds, microseconds);
}

void RDSocketServer::shutdown()
{
    m_handle.shutdown();
}

void RDSocketServer::closeHandle(bool clearAddress)
{
    m_handle.close();
    if (clearAddress)
        m_address.clear();
}
