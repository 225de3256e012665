#pragma once

#include "RDAudioDevice.h"
#include "RDWidget.h"

#include <QList>
#include <QString>

class QListWidget;
class RtpInfoDeviceItemWidget;

// The "Audio Source" tab of the channel form: the PC's active audio endpoints, capture endpoints
// first, then render endpoints (whose output the channel captures as loopback), one row each;
// the operator marks the one the channel captures from, and every new mark is reported by
// deviceChanged(). GUI thread only.
class RtpInfoDeviceWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit RtpInfoDeviceWidget(QWidget* parent = nullptr);

    // Rebuilds the rows; the endpoint whose id equals selectedId is marked (none when it is
    // absent). Reports nothing.
    void setDevices(const QList<RDAudioDevice>& devices, const QString& selectedId);
    const QList<RDAudioDevice>& devices() const { return m_devices; }
    // The first marked endpoint; false (device untouched) when no row is marked, so that the
    // form keeps the channel's stored endpoint rather than wiping it.
    bool markedDevice(RDAudioDevice* device) const;
    void setEditable(bool editable);

    QListWidget* list() const { return m_list; }
    RtpInfoDeviceItemWidget* row(int index) const;

    // The height each row asks of the list.
    static constexpr int kRowHeight = 30;

signals:
    void deviceChanged();

public slots:
    void onClickItemWidget();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QList<RDAudioDevice> m_devices;
    QListWidget* m_list = nullptr;
};
