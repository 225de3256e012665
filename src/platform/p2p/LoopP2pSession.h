#pragma once

#include "LoopP2pFrameReader.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// One session of the device: the accepted connection, its reader thread and what the reader
// queued. Held by shared pointer: the device's tables and every call working on the session
// hold a reference, so a close racing a receive is safe.
//
// Only close() closes the descriptor: under the write mutex, after the reader has been joined,
// so no write or read can reach a descriptor number that was reused.
class LoopP2pSession
{
public:
    // A full IO-control queue makes the reader wait (and so the app's writes), dropping nothing.
    static constexpr size_t kIoCtrlQueueLimit = 256;
    // Audio is real time: the oldest frame gives way.
    static constexpr size_t kAudioQueueLimit = 100;
    // How long one audio receive waits at most.
    static constexpr int kAudioWaitMs = 10;

    LoopP2pSession(int id, int fd);
    ~LoopP2pSession();
    LoopP2pSession(const LoopP2pSession&) = delete;
    LoopP2pSession& operator=(const LoopP2pSession&) = delete;

    int id() const { return m_id; }
    // Starts the reader unless the session was closed meanwhile; false then.
    bool startReader();
    // Wakes every wait, shuts the connection down, joins the reader and closes the descriptor.
    // Idempotent.
    void close();

    // One frame, whole, under the write mutex: 0, or -1012 (the connection is then shut down,
    // which the reader sees as EOF).
    int send(LoopP2pFrameKind kind, const std::string& body);

    // Waits for the app's AV start request until the deadline: 0 with the account and password,
    // or -1008 (time-out), -1009 (aborted, closed), -1007 (the app left). A request that came
    // earlier is used at once.
    int waitAvStart(std::chrono::steady_clock::time_point deadline, std::string& account,
                    std::string& password);
    // Aborts the start waiting now, or the next one when none waits.
    void abortStart();
    // The AV server on this session; -1 when none (stopped). A new index drops nothing queued.
    void setAvIndex(int avIndex);
    int avIndex() const;

    // See avRecvIOCtrl and avRecvAudioData; avIndex must still be this session's AV server.
    int recvIoCtrl(int avIndex, unsigned int* type, char* buffer, int size, unsigned int timeoutMs);
    int recvAudio(int avIndex, char* buffer, int size, char* info, int infoSize,
                  unsigned int* frameNumber);

private:
    struct Message
    {
        unsigned int type = 0; // IO-control type; unused for audio
        std::string info;      // audio frame information; unused for IO-control
        std::string data;
    };

    void readLoop();
    void dispatch(LoopP2pFrame& frame);
    // Waits until pred holds, the AV server changes, the session closes or the time is up.
    // Result: 1 pred holds, 0 time-out, -1006 AV gone, -1007 app left.
    template<typename Pred>
    int waitQueue(std::unique_lock<std::mutex>& lock, int avIndex, int timeoutMs, Pred pred);

    const int m_id;

    std::mutex m_writeMutex;
    int m_fd; // guarded by m_writeMutex for writes and the close; the reader reads it unlocked
    bool m_writeFailed = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // queues, AV state, start requests, EOF, close
    std::thread m_reader;
    bool m_closed = false;
    bool m_eof = false;
    int m_avIndex = -1;
    bool m_startRequested = false;
    bool m_startAborted = false;
    std::string m_account;
    std::string m_password;
    std::deque<Message> m_ioCtrl;
    std::deque<Message> m_audio;
    unsigned int m_audioFrames = 0;
};
