#include "RDAudioDevice.h"

#include "AudioEndpoints.h"
#include "RDLog.h"

RDAudioDevice::RDAudioDevice() = default;

RDAudioDevice::RDAudioDevice(const QString& id_, const QString& name_, int kind_)
    : id(id_), name(name_), kind(kind_)
{
}

RDAudioDevice::RDAudioDevice(const RDAudioDevice& other)
    : QObject(), id(other.id), name(other.name), kind(other.kind)
{
}

RDAudioDevice& RDAudioDevice::operator=(const RDAudioDevice& other)
{
    if (this != &other) {
        id = other.id;
        name = other.name;
        kind = other.kind;
    }
    return *this;
}

RDAudioDevice::~RDAudioDevice() = default;

namespace {

// The endpoints of one direction; false (with the reason) when the server cannot list them.
bool listDevices(int flow, unsigned stateMask, int kind, QList<RDAudioDevice>* devices,
                 QString* error)
{
    if (flow != RDAudioDevice::eRender && flow != RDAudioDevice::eCapture) {
        *error = QStringLiteral("no data flow %1").arg(flow);
        return false;
    }
    // Every endpoint the sound server lists is in use; it shows none that are unplugged or
    // disabled.
    if (!(stateMask & RDAudioDevice::DEVICE_STATE_ACTIVE))
        return true;
    QVector<AudioEndpoints::Endpoint> endpoints;
    if (!AudioEndpoints::list(flow == RDAudioDevice::eRender ? AudioEndpoints::Render
                                                             : AudioEndpoints::Capture,
                              &endpoints, error))
        return false;
    for (const AudioEndpoints::Endpoint& endpoint : endpoints) {
        if (endpoint.id.isEmpty() || endpoint.name.isEmpty())
            continue;
        devices->append(RDAudioDevice(endpoint.id, endpoint.name, kind));
    }
    return true;
}

} // namespace

QList<RDAudioDevice> RDAudioDevice::getDevices(int flow, unsigned stateMask)
{
    QList<RDAudioDevice> devices;
    QString error;
    if (!listDevices(flow, stateMask, kCapture, &devices, &error)) {
        RDLOG("EnumAudioEndpoints failure: %s", error.toUtf8().constData());
        devices.clear();
    }
    return devices;
}

QList<RDAudioDevice> RDAudioDevice::getAllDevices()
{
    QList<RDAudioDevice> devices;
    QString error;
    // Without a server the second listing would only fail the same way again.
    if (!listDevices(eCapture, DEVICE_STATE_ACTIVE, kCapture, &devices, &error)) {
        RDLOG("EnumAudioEndpoints failure: %s", error.toUtf8().constData());
        return QList<RDAudioDevice>();
    }
    QList<RDAudioDevice> render;
    if (!listDevices(eRender, DEVICE_STATE_ACTIVE, kRender, &render, &error))
        RDLOG("EnumAudioEndpoints failure: %s", error.toUtf8().constData());
    else
        devices += render;
    return devices;
}
