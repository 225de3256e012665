#pragma once

#include "ZAVezeDeviceSetDialog.h"

// Sets the web account and password of devices; the rows show the new account.
class ZAVezeDeviceAuthSetDialog : public ZAVezeDeviceSetDialog
{
    Q_OBJECT
public:
    ZAVezeDeviceAuthSetDialog(QWidget* parent, ZAVeze* tool, ZAVezeDeviceUpdateSink* table);
    ~ZAVezeDeviceAuthSetDialog() override;

    void setDevices(const QVector<ZAVezeDevice>& devices, const QString& account, const QString& password);
    void setDevice(const ZAVezeDevice& device, const QString& account, const QString& password);

    void run() override;

private:
    QVector<ZAVezeDevice> m_devices;
    QString m_account;
    QString m_password;
};
