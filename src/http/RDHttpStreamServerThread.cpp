#include "RDHttpStreamServerThread.h"

#include "RDHttpStreamServer.h"

RDHttpStreamServerThread::RDHttpStreamServerThread(RDHttpStreamServer* server) : m_server(server)
{
    setName("RDHttpServer");
}

void RDHttpStreamServerThread::stop()
{
    RDThread::stop();
    m_server->wakeAccept();
}

void RDHttpStreamServerThread::run()
{
    m_server->acceptLoop(this);
}
