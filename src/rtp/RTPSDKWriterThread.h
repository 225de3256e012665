#pragma once

#include "RDThread.h"

class RTPSDKWriter;

// The remote-app sink's sending thread ("SDK Write").
class RTPSDKWriterThread : public RDThread
{
public:
    explicit RTPSDKWriterThread(RTPSDKWriter* writer);

    void pause(int ms) { sleepUntilStop(ms); }

protected:
    void run() override;

private:
    RTPSDKWriter* m_writer;
};
