#include "RTPSDKWriterThread.h"

#include "RTPSDKWriter.h"

RTPSDKWriterThread::RTPSDKWriterThread(RTPSDKWriter* writer) : m_writer(writer)
{
    setName("SDK Write");
}

void RTPSDKWriterThread::run()
{
    m_writer->sendLoop(this);
}
