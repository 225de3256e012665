#include "RTPSDKReaderThread.h"

#include "RTPSDKReader.h"

RTPSDKReaderThread::RTPSDKReaderThread(RTPSDKReader* reader) : m_reader(reader) {}

void RTPSDKReaderThread::run()
{
    m_reader->_run(this);
}
