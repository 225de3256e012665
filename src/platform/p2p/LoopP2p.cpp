#include "LoopP2p.h"

#include "LoopP2pDevice.h"

int IOTC_Initialize2(unsigned short)
{
    return LoopP2pDevice::instance().initialize();
}

int IOTC_Set_Max_Session_Number(unsigned int count)
{
    return LoopP2pDevice::instance().setMaxSessions(count);
}

int IOTC_Device_LoginEx(const char* uid, const LoopP2pLoginInput* input)
{
    return LoopP2pDevice::instance().login(uid, input);
}

int IOTC_Listen(unsigned int timeoutMs)
{
    return LoopP2pDevice::instance().listen(timeoutMs);
}

int IOTC_Session_Get_Free_Channel(int sessionId)
{
    return LoopP2pDevice::instance().freeChannel(sessionId);
}

int IOTC_Session_Close(int sessionId)
{
    return LoopP2pDevice::instance().closeSession(sessionId);
}

int IOTC_DeInitialize()
{
    return LoopP2pDevice::instance().deinitialize();
}

int avInitialize(int maxAv)
{
    return LoopP2pDevice::instance().avInitialize(maxAv);
}

int avDeInitialize()
{
    return LoopP2pDevice::instance().avDeinitialize();
}

int avServStartEx(const LoopP2pAvStartInput* input, LoopP2pAvStartOutput* output)
{
    return LoopP2pDevice::instance().avStart(input, output);
}

int avServExit(int sessionId, unsigned char channel)
{
    return LoopP2pDevice::instance().avExit(sessionId, channel);
}

int avServStop(int avIndex)
{
    return LoopP2pDevice::instance().avStop(avIndex);
}

int avRecvIOCtrl(int avIndex, unsigned int* type, char* buffer, int size, unsigned int timeoutMs)
{
    return LoopP2pDevice::instance().avRecvIoCtrl(avIndex, type, buffer, size, timeoutMs);
}

int avRecvAudioData(int avIndex, char* buffer, int size, char* info, int infoSize,
                    unsigned int* frameNumber)
{
    return LoopP2pDevice::instance().avRecvAudio(avIndex, buffer, size, info, infoSize,
                                                 frameNumber);
}

int avSendIOCtrl(int avIndex, unsigned int type, const char* data, int length)
{
    return LoopP2pDevice::instance().avSendIoCtrl(avIndex, type, data, length);
}

int avSendAudioData(int avIndex, const char* data, int length, const void* info, int infoSize)
{
    return LoopP2pDevice::instance().avSendAudio(avIndex, data, length, info, infoSize);
}
