#include "RDHttpStreamServerThread.h"

#include "RDHttpStreamServer.h"

RDHttpStreamServerThread::RDHttpStreamServerThread(RDHttpStreamServer* server) : m_server(server)
{
    setName("RDHttpServer");
}

void RDHttpStreamServerThread::stop()
{
    RDThread::stop();
}

void RDHttpStreamServerThread::run()
{
    m_server->acceptLoop(this);
}
