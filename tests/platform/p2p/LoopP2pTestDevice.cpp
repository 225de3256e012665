#include "LoopP2pTestDevice.h"

#include "LoopP2p.h"

#include <unistd.h>

int LoopP2pTestDevice::logIn(const std::string& uid, int sessionLimit, int avServerLimit)
{
    IOTC_Initialize2(0);
    IOTC_Set_Max_Session_Number(sessionLimit);
    avInitialize(avServerLimit);
    LoopP2pLoginInput input{};
    input.size = sizeof(input);
    return IOTC_Device_LoginEx(uid.c_str(), &input);
}

const std::string& LoopP2pTestDevice::processDevice(const char* prefix)
{
    static const std::string uid = [prefix] {
        const std::string name = prefix + std::to_string(getpid());
        logIn(name);
        return name;
    }();
    return uid;
}
