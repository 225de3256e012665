// Captured frames from the segment: both receive stages and the reply readers.
#include "ZAVezeFrame.h"
#include "ZAVezeReply.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray frame(reinterpret_cast<const char*>(data), int(size));
    if (ZAVezeFrame::checkHeader(frame) != ZAVezeFrame::Check::Accepted)
        return 0;
    // The target addresses of the seeds, so that stage 2 gets past its address test.
    ZAVezeReply reply;
    if (ZAVezeFrame::parseReply(frame, QByteArray::fromHex("02000000dd01"), QByteArray::fromHex("c0000201"), reply) !=
        ZAVezeFrame::Check::Accepted)
        return 0;
    bool ok = false;
    (void)reply.id(&ok);
    (void)reply.method(&ok);
    (void)reply.isSuccess();
    (void)reply.matches(1, QStringLiteral("search"));
    (void)ZAVezeFrame::logText(reply.json);
    return 0;
}
