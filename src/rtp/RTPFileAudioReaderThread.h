#pragma once

#include "RDThread.h"

class RTPFileAudioReader;

// Runs a file reader's body.
class RTPFileAudioReaderThread : public RDThread
{
public:
    explicit RTPFileAudioReaderThread(RTPFileAudioReader* reader);

protected:
    void run() override;

private:
    RTPFileAudioReader* m_reader;
};
