#include "VexaAudioPacket.h"

void VexaAudioPacket::setPayload(const char* bytes, int length)
{
    if (!bytes || length < 1)
        payload.clear();
    else
        payload = QByteArray(bytes, length);
}
