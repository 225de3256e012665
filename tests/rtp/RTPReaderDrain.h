#pragma once

#include "RDThread.h"
#include "RTPAudioPacket.h"
#include "RTPAudioReader.h"
#include "RTPPacketTone.h"
#include "RTPReaderEvents.h"

#include "TestAudio.h"

#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Takes packets from a reader the way the send loop does (one read every millisecond) and
// keeps them with the time each came, and decodes them back for measuring.
class RTPReaderDrain
{
public:
    struct Taken
    {
        std::unique_ptr<RTPAudioPacket> packet;
        double time;   // monotonic seconds
        int events;    // reports recorded when it was taken
    };
    using Takens = std::vector<Taken>;
    // Return true to stop taking.
    using Until = std::function<bool(const Takens&)>;

    // Reads until the reader has finished and holds nothing more, until returns true, or
    // seconds pass. Sets *timedOut when the time ran out.
    static Takens run(RTPAudioReader* reader, double seconds, const Until& until = Until(),
                      const RTPReaderEvents* events = nullptr, bool* timedOut = nullptr)
    {
        Takens taken;
        const double deadline = RDThread::tickTime() + seconds;
        if (timedOut)
            *timedOut = false;
        for (;;) {
            if (RTPAudioPacket* p = reader->read()) {
                taken.push_back(Taken{std::unique_ptr<RTPAudioPacket>(p), RDThread::tickTime(),
                                      events ? events->size() : 0});
                if (until && until(taken))
                    break;
                continue;
            }
            if (reader->isFinished()) {
                // The last packets may have been queued just before the flag was raised.
                if (RTPAudioPacket* p = reader->read()) {
                    taken.push_back(Taken{std::unique_ptr<RTPAudioPacket>(p), RDThread::tickTime(),
                                          events ? events->size() : 0});
                    continue;
                }
                break;
            }
            if (RDThread::tickTime() > deadline) {
                if (timedOut)
                    *timedOut = true;
                break;
            }
            RDThread::msleep(1);
        }
        return taken;
    }

    // A send loop on its own thread: reads (and drops) packets and asks isFinished every
    // millisecond until finish().
    class Background
    {
    public:
        explicit Background(RTPAudioReader* reader)
            : m_thread([this, reader] {
                  while (!m_done) {
                      if (RTPAudioPacket* p = reader->read()) {
                          ++m_packets;
                          delete p;
                      }
                      reader->isFinished();
                      reader->payloadType();
                      RDThread::msleep(1);
                  }
              })
        {
        }
        ~Background() { finish(); }
        // Stops the thread; the number of packets it took.
        int finish()
        {
            m_done = true;
            if (m_thread.joinable())
                m_thread.join();
            return m_packets.load();
        }

    private:
        std::atomic<bool> m_done{false};
        std::atomic<int> m_packets{0};
        std::thread m_thread;
    };

    static double duration(const Takens& taken, size_t from = 0, size_t to = size_t(-1))
    {
        double sum = 0.0;
        for (size_t i = from; i < taken.size() && i < to; ++i)
            sum += taken[i].packet->duration;
        return sum;
    }

    // The packets' audio as mono samples at the payload type's decoding rate.
    static QVector<float> decode(const Takens& taken, int payloadType, size_t from = 0,
                                 size_t to = size_t(-1))
    {
        RTPPacketTone::Packets packets;
        for (size_t i = from; i < taken.size() && i < to; ++i) {
            RTPAudioPacket* copy = new RTPAudioPacket;
            copy->payloadType = taken[i].packet->payloadType;
            copy->setData(taken[i].packet->data, taken[i].packet->length);
            packets.emplace_back(copy);
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("packets.raw"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(RTPPacketTone::payload(packets));
        file.close();
        return TestAudio::decode(path, RTPPacketTone::decodeRate(payloadType),
                                 RTPPacketTone::decodeArguments(payloadType));
    }

    // Frequency of the samples between two times (seconds from their start).
    static double frequency(const QVector<float>& samples, int rate, double from, double to)
    {
        const int a = std::max(0, int(from * rate));
        const int b = std::min(int(samples.size()), int(to * rate));
        if (b - a < rate / 50)
            return 0.0;
        return TestAudio::toneFrequency(samples.mid(a, b - a), rate);
    }
};
