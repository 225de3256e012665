#pragma once

#include "RDThread.h"

class RTPFilesAudioReader;

// Runs a playlist reader's body.
class RTPFilesAudioReaderThread : public RDThread
{
public:
    explicit RTPFilesAudioReaderThread(RTPFilesAudioReader* reader);

protected:
    void run() override;

private:
    RTPFilesAudioReader* m_reader;
};
