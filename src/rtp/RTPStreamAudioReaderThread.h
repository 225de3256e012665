#pragma once

#include "RDThread.h"

class RTPStreamAudioReader;

// Runs a stream reader's body.
class RTPStreamAudioReaderThread : public RDThread
{
public:
    explicit RTPStreamAudioReaderThread(RTPStreamAudioReader* reader);

protected:
    void run() override;

private:
    RTPStreamAudioReader* m_reader;
};
