#pragma once

#include "RtpInfoSessionObserver.h"

#include <atomic>

// Counts what a session reports. It takes no lock, as the channel manager's queueing does not.
class RtpSessionRecorder : public RtpInfoSessionObserver
{
public:
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<int> changed{0};
    std::atomic<int> itemsOpened{0};
    std::atomic<int> lastItem{-1};
    std::atomic<int> streamsOpened{0};
    std::atomic<int> streamEnds{0};
    std::atomic<int> filesOpened{0};
    std::atomic<int> filesFinished{0};

    void onSessionStarted(RtpInfoSession*) override { ++started; }
    void onSessionFinished(RtpInfoSession*) override { ++finished; }
    void onSourceChanged(RtpInfoSession*) override { ++changed; }
    void onFilesItemOpened(RtpInfoSession*, int index) override
    {
        lastItem = index;
        ++itemsOpened;
    }
    void onStreamOpened(RtpInfoSession*) override { ++streamsOpened; }
    void onStreamEnd(RtpInfoSession*) override { ++streamEnds; }
    void onFileOpened(RtpInfoSession*) override { ++filesOpened; }
    void onFileFinished(RtpInfoSession*) override { ++filesFinished; }
};
