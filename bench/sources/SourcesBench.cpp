// Prints (1) how long stopping a stream source takes while its open hangs on a server that
// accepts and never answers, over 20 stops; (2) the queue of a remote-app source whose app sends
// 20-ms PCMU frames 1 % faster than the channel plays them, over a run of the given seconds
// (first argument, default 60; 600 for the ten-minute figure).
#include "RDThread.h"
#include "RTPAudioPacket.h"
#include "RTPSDKReader.h"
#include "RTPStreamAudioReader.h"
#include "VexaAudioPacket.h"
#include "VexaClient.h"

#include "../../tests/rtp/RTPStalledServer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

void stopLatency()
{
    RTPStalledServer server;
    if (server.port() == 0) {
        std::printf("stop during a hanging open: no server\n");
        return;
    }
    std::vector<double> took;
    for (int i = 0; i < 20; ++i) {
        RTPStreamAudioReader reader;
        reader.setUrl(QStringLiteral("http://127.0.0.1:%1/radio.mp3").arg(server.port()));
        const double seconds = server.timeStopDuringOpen(&reader);
        if (seconds >= 0)
            took.push_back(seconds * 1000);
    }
    if (took.empty())
        return;
    std::sort(took.begin(), took.end());
    std::printf("stop during a hanging stream open, %zu stops: min %.0f ms, median %.0f ms, max %.0f ms\n",
                took.size(), took.front(), took[took.size() / 2], took.back());
}

class SteadyApp : public VexaClient
{
public:
    bool isConnected() const override { return true; }
    int sendData(VexaBuffer&) override { return 0; }
    int sendAudio(const VexaAudioPacket&) override { return 0; }
    int readAudio(VexaAudioPacket& packet) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_frames.empty()) {
            packet.clear();
            return 0;
        }
        packet = m_frames.front();
        m_frames.pop_front();
        return packet.length();
    }
    void receive(const VexaAudioPacket& packet)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(packet);
        while (m_frames.size() > size_t(kAudioQueueLimit))
            m_frames.pop_front();
    }

private:
    std::mutex m_mutex;
    std::deque<VexaAudioPacket> m_frames;
};

void fastApp(double seconds)
{
    auto app = std::make_shared<SteadyApp>();
    RTPSDKReader reader;
    reader.setClient(app);
    reader.setPayloadType(0);
    reader.start();
    std::atomic<bool> done{false};
    std::atomic<long> sent{0};
    std::thread sender([&] {
        VexaAudioPacket frame;
        frame.payloadType = 0;
        frame.channels = 1;
        frame.sampleRate = 8000;
        frame.duration = 20000;
        const QByteArray silence(160, '\x7f');
        frame.setPayload(silence.constData(), silence.size());
        const double start = RDThread::tickTime();
        while (!done) {
            // 1 % fast: a 20-ms frame every 19.8 ms.
            const double due = start + sent * 0.0198;
            if (RDThread::tickTime() >= due) {
                app->receive(frame);
                ++sent;
            } else {
                RDThread::msleep(1);
            }
        }
    });
    long played = 0;
    int maxQueued = 0;
    const double start = RDThread::tickTime();
    double nextReport = start + 60;
    while (RDThread::tickTime() - start < seconds) {
        // The channel plays one 20-ms packet every 20 ms.
        const double due = start + played * 0.02;
        if (RDThread::tickTime() < due) {
            RDThread::msleep(1);
            continue;
        }
        if (RTPAudioPacket* p = reader.read()) {
            delete p;
            ++played;
        } else {
            RDThread::msleep(1);
        }
        maxQueued = std::max(maxQueued, reader.queued());
        if (RDThread::tickTime() >= nextReport) {
            std::printf("  after %3.0f s: %d packets queued (%.1f s behind)\n", RDThread::tickTime() - start,
                        reader.queued(), reader.queued() * 0.02);
            nextReport += 60;
        }
    }
    done = true;
    sender.join();
    const int queued = reader.queued();
    reader.stop();
    std::printf("remote app 1 %% fast for %.0f s: %ld frames sent, %ld played, at most %d queued (%.1f s), "
                "%ld lost to the cap\n",
                seconds, long(sent), played, maxQueued, maxQueued * 0.02, long(sent) - played - queued);
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    stopLatency();
    fastApp(seconds > 0 ? seconds : 60.0);
    return 0;
}
