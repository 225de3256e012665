#pragma once

#include "LoopP2p.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

class LoopP2pSession;

// The process's one device behind the IOTC and AV calls of LoopP2p.h. The tables live under
// one mutex that is never held while a call waits or joins: a call takes its references out
// under it and works on them after.
class LoopP2pDevice
{
public:
    static LoopP2pDevice& instance();

    int initialize();
    int setMaxSessions(unsigned int count);
    int login(const char* uid, const LoopP2pLoginInput* input);
    int listen(unsigned int timeoutMs);
    int freeChannel(int sessionId);
    int closeSession(int sessionId);
    int deinitialize();

    int avInitialize(int maxAv);
    int avDeinitialize();
    int avStart(const LoopP2pAvStartInput* input, LoopP2pAvStartOutput* output);
    int avExit(int sessionId, unsigned char channel);
    int avStop(int avIndex);
    int avRecvIoCtrl(int avIndex, unsigned int* type, char* buffer, int size, unsigned int ms);
    int avRecvAudio(int avIndex, char* buffer, int size, char* info, int infoSize,
                    unsigned int* frameNumber);
    int avSendIoCtrl(int avIndex, unsigned int type, const char* data, int length);
    int avSendAudio(int avIndex, const char* data, int length, const void* info, int infoSize);

private:
    struct Listener;

    LoopP2pDevice() = default;

    std::shared_ptr<LoopP2pSession> sessionById(int sessionId);
    // The session of a running AV server, or null.
    std::shared_ptr<LoopP2pSession> sessionByAv(int avIndex);
    // Refuses a session over the limit: tells the app, then closes.
    static int refuse(int fd);

    std::mutex m_mutex;
    bool m_initialized = false;
    unsigned int m_maxSessions = 128;
    int m_maxAv = 0;
    bool m_avInitialized = false;
    std::shared_ptr<Listener> m_listener;
    int m_nextSessionId = 0;
    int m_nextAvIndex = 0;
    std::map<int, std::shared_ptr<LoopP2pSession>> m_sessions;
    std::map<int, std::shared_ptr<LoopP2pSession>> m_avServers;
};
