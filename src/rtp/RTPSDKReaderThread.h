#pragma once

#include "RDThread.h"

class RTPSDKReader;

// Runs a remote-app source's body.
class RTPSDKReaderThread : public RDThread
{
public:
    explicit RTPSDKReaderThread(RTPSDKReader* reader);

protected:
    void run() override;

private:
    RTPSDKReader* m_reader;
};
