#include "RTPFileAudioReaderThread.h"

#include "RTPFileAudioReader.h"

RTPFileAudioReaderThread::RTPFileAudioReaderThread(RTPFileAudioReader* reader) : m_reader(reader) {}

void RTPFileAudioReaderThread::run()
{
    m_reader->_run(this);
}
