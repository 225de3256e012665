#pragma once

#include <QList>
#include <QObject>
#include <QString>

// One audio endpoint of the PC: a capture endpoint (microphone, line-in) or a render endpoint
// (speakers, captured as loopback). The channel record keeps the chosen one's id, name and kind.
class RDAudioDevice : public QObject
{
    Q_OBJECT

public:
    // Directions and states as the endpoint enumerator numbers them.
    enum Flow { eRender = 0, eCapture = 1 };
    enum State { DEVICE_STATE_ACTIVE = 0x1 };
    enum Kind { kCapture = 0, kRender = 1 };

    RDAudioDevice();
    RDAudioDevice(const QString& id, const QString& name, int kind);
    RDAudioDevice(const RDAudioDevice& other);
    RDAudioDevice& operator=(const RDAudioDevice& other);
    ~RDAudioDevice() override;

    QString id;
    QString name;
    int kind = kCapture;

    // The endpoints of one direction whose state is in stateMask, in the server's order, each with
    // kind 0 (the caller sets the kind). Endpoints without a name are left out; failures are logged
    // and give an empty list.
    static QList<RDAudioDevice> getDevices(int flow, unsigned stateMask);
    // The active capture endpoints (kind 0), then the active render endpoints (kind 1).
    static QList<RDAudioDevice> getAllDevices();
};
