#pragma once

#include "QPcap.h"
#include "RDSystemNetwork.h"
#include "ZAVezeDevice.h"
#include "ZAVezeReply.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

// The LAN device tool: requests to endpoint devices as JSON carried in ARP-shaped frames on one
// adapter, and the replies they send back.
//
// Threads: frames arrive on the capture thread (onPacket), which passes those that pass the
// cheap checks to the thread of this object (the GUI thread) by a queued call; onRecvMessage
// there keeps the replies. Requests and waits run on worker threads, one job at a time (the
// job mutex enforces it); they never see a reply while the GUI thread's event loop is blocked.
// start(), stop(), setNetwork() and beginJob() belong to the GUI thread; cancel() may be called
// from any thread.
class ZAVeze : public QObject, public QPcapObserver
{
    Q_OBJECT

public:
    // Replies waiting to be taken; the oldest goes first when more arrive. A search of a full
    // segment (kMaxDevices) brings three replies a device within a few milliseconds.
    static constexpr int kMaxReplies = 4096;
    // Frames posted to the GUI thread and not yet looked at; more are dropped meanwhile, so a
    // flood of look-alike frames cannot fill the event queue (a few MB at most).
    static constexpr int kMaxPendingFrames = 4096;
    static constexpr double kCommandSeconds = 3.0;
    // Devices one search lists at most; settings replies kept for devices not yet listed.
    static constexpr int kMaxDevices = 1024;

    ZAVeze();
    // Stops the capture.
    ~ZAVeze() override;

    // The adapter whose MAC and IPv4 bytes source every frame and filter the replies. Does not
    // touch a running capture.
    void setNetwork(const RDSystemNetwork& network);
    const RDSystemNetwork& network() const { return m_network; }
    void start();
    void stop();
    bool isRunning() const { return m_capture.isRunning(); }
    bool isOpen() const { return m_capture.isOpen(); }
    QPcap& capture() { return m_capture; }

    // A job (a search, a command, or a dialog's run of several) begins: an earlier cancel is
    // forgotten. Called before the job's worker starts.
    void beginJob();
    // Ends the running wait and every later request of the job until the next beginJob().
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }

    // The next request id: 1, 2, ... up to INT_MAX, then 1 again (ids travel as JSON ints).
    int nextId();

    // Queues json as one frame to a device (mac 6 bytes, ip 4 bytes). False, logged and nothing
    // queued when the text exceeds ZAVezeFrame::kMaxJsonBytes, the adapter lacks a 6-byte MAC or
    // 4-byte address, or the queue is full. The frame is dropped unsent past deadline
    // (RDThread::tickTime seconds, <= 0: none).
    bool sendJson(const QByteArray& mac, const QByteArray& ip, const QJsonObject& json, double deadline = 0);

    // 0 and the oldest reply (removed), -1 when none waits.
    int takeReply(ZAVezeReply& out);
    void clearReplies();
    int replyCount() const;

    // Takes replies until the one for id and method (method case ignored): 0. -1 at the end of
    // seconds (<= 0: no end), on a cancel or when the capture is not running, at once. Replies
    // that do not match are discarded.
    int waitReply(int id, const QString& method, ZAVezeReply& out, double seconds);

    // One command: sends {"id", "method", members...} to the device and waits for its reply.
    // 0 when the device answered "success" (any case); -1 otherwise (no reply within seconds,
    // another result, cancelled, capture not open, request refused), with one log line.
    // The job mutex makes concurrent commands take turns.
    int request(const QByteArray& mac, const QByteArray& ip, const QString& method, const QJsonObject& members,
                ZAVezeReply* reply = nullptr, double seconds = kCommandSeconds);

    // Asks every device on the segment ("search", "GetSipSettings", "GetRtpSettings" to the
    // broadcast addresses) and collects the answers for the whole of seconds (or until a cancel
    // or a stop), appending each device once, with its SIP lines and RTP list (also when those
    // replies come before the device's own). The size of devices afterwards; -1 when the
    // adapter is not open.
    virtual int search(QVector<ZAVezeDevice>& devices, double seconds);
    // The first device with both these MAC and IPv4 bytes, or -1.
    static int findDevice(const QVector<ZAVezeDevice>& devices, const QByteArray& mac, const QByteArray& ip);

    // The device commands: each sends one request to the device and blocks for its reply (up
    // to kCommandSeconds). 0 when the device answered "success", -1 otherwise. They and search()
    // are virtual so that the device windows' jobs can run against a scripted tool.
    virtual int playVolume(const ZAVezeDevice& device);
    virtual int reboot(const ZAVezeDevice& device);
    virtual int resetDefault(const ZAVezeDevice& device);
    virtual int setAccountPassword(const ZAVezeDevice& device, const QString& account, const QString& password);
    virtual int setIpDhcp(const ZAVezeDevice& device);
    virtual int setIpStatic(const ZAVezeDevice& device, const QString& ip, const QString& netmask, const QString& gateway,
                    const QString& dns1, const QString& dns2);
    virtual int setMac(const ZAVezeDevice& device, const QString& mac);
    virtual int setName(const ZAVezeDevice& device, const QString& name);
    // At most ZAVezeDevice::kMaxRtp destinations "ip:port"; more are refused unsent.
    virtual int setRtpSettings(const ZAVezeDevice& device, const QVector<QString>& destinations);
    // Line 0 or 1; another line is refused unsent.
    virtual int setSipSettings(const ZAVezeDevice& device, int line, const ZAVezeSipInfo& sip);
    virtual int setDeviceVolume(const ZAVezeDevice& device, int micVolume, int outVolume, int autoMute);

    void onPacket(QPcap* capture, const QByteArray& frame) override;

    // Frames dropped since start because too many were pending for the GUI thread.
    int droppedFrames() const { return m_droppedFrames.load(); }

public slots:
    void onRecvMessage(QByteArray bytes);

protected:
    // Commands and searches hold it for their whole run.
    std::mutex m_jobMutex;

private:
    // Sleeps until a reply arrives, a cancel or ms passed.
    void waitForReplies(int ms);
    void applyEarlySettings(QVector<ZAVezeDevice>& devices, const QList<ZAVezeReply>& early, int sipId);

    QPcap m_capture;
    RDSystemNetwork m_network;
    std::atomic<quint32> m_counter{0};
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_pendingFrames{0};
    std::atomic<int> m_droppedFrames{0};

    mutable std::mutex m_replyMutex;
    std::condition_variable m_replyArrived;
    std::deque<ZAVezeReply> m_replies;
};
