#include "RTPFilesAudioReaderThread.h"

#include "RTPFilesAudioReader.h"

RTPFilesAudioReaderThread::RTPFilesAudioReaderThread(RTPFilesAudioReader* reader) : m_reader(reader) {}

void RTPFilesAudioReaderThread::run()
{
    m_reader->_run(this);
}
