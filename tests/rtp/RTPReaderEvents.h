#pragma once

#include "RDThread.h"
#include "RTPFileAudioReaderObserver.h"
#include "RTPFilesAudioReaderObserver.h"
#include "RTPStreamAudioReaderObserver.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

// Records what a file, playlist or stream reader reports, in order and with the monotonic time, so a
// test can compare the sequence ("O0 E0 F1 ...") and wait for a given report.
class RTPReaderEvents : public RTPFileAudioReaderObserver,
                        public RTPFilesAudioReaderObserver,
                        public RTPStreamAudioReaderObserver
{
public:
    enum Kind { Opened, End, Failed, Finished };
    struct Event
    {
        Kind kind;
        int index;   // -1 for the file and stream readers
        double time;
    };

    // Runs on the reader's thread inside every report (after it is recorded).
    std::function<void(const Event&)> hook;

    void onOpened(RTPFileAudioReader*) override { add(Opened, -1); }
    void onFinished(RTPFileAudioReader*) override { add(Finished, -1); }
    void onOpenFailed(RTPFileAudioReader*) override { add(Failed, -1); }
    void onOpened(RTPStreamAudioReader*) override { add(Opened, -1); }
    void onEnd(RTPStreamAudioReader*) override { add(End, -1); }
    void onOpenFailed(RTPStreamAudioReader*) override { add(Failed, -1); }
    void onItemOpened(RTPFilesAudioReader*, int index) override { add(Opened, index); }
    void onItemEnd(RTPFilesAudioReader*, int index) override { add(End, index); }
    void onItemOpenFailed(RTPFilesAudioReader*, int index) override { add(Failed, index); }

    std::vector<Event> events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    int size() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_events.size());
    }
    // "O0 E0 F1 O2 ..." (index left out for the file and stream readers; Finished is "X").
    QString trace() const
    {
        QStringList parts;
        for (const Event& e : events()) {
            const char* letter = e.kind == Opened ? "O" : e.kind == End ? "E" : e.kind == Failed ? "F" : "X";
            parts << (e.index >= 0 ? QString::fromLatin1(letter) + QString::number(e.index)
                                   : QString::fromLatin1(letter));
        }
        return parts.join(QLatin1Char(' '));
    }
    int count(Kind kind, int index = -2) const
    {
        int n = 0;
        for (const Event& e : events())
            n += e.kind == kind && (index == -2 || e.index == index) ? 1 : 0;
        return n;
    }
    // Waits until at least n reports of kind (for index, or any) are in; false on time-out.
    bool waitFor(Kind kind, int n, double seconds, int index = -2) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
            int found = 0;
            for (const Event& e : m_events)
                found += e.kind == kind && (index == -2 || e.index == index) ? 1 : 0;
            return found >= n;
        });
    }

private:
    void add(Kind kind, int index)
    {
        const Event event{kind, index, RDThread::tickTime()};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(event);
        }
        m_changed.notify_all();
        if (hook)
            hook(event);
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Event> m_events;
};
