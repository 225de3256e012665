#include "RTPStreamAudioReaderThread.h"

#include "RTPStreamAudioReader.h"

RTPStreamAudioReaderThread::RTPStreamAudioReaderThread(RTPStreamAudioReader* reader) : m_reader(reader) {}

void RTPStreamAudioReaderThread::run()
{
    m_reader->_run(this);
}
