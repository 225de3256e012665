#pragma once

#include "ZAVeze.h"

#include <QHash>
#include <QStringList>

#include <mutex>

// A device tool whose devices are a script: each MAC answers with success, with failure, or
// stays silent (the command then fails after the tool's command time or at a cancel, as the real
// one does). Every command is recorded as "<method> <MAC text> <arguments>". Searches return the
// scripted list after searchSeconds (or at a cancel, with nothing).
class ScriptedTool : public ZAVeze
{
public:
    enum Outcome { Ok, Fail, Silent };

    void setOutcome(const QByteArray& mac, Outcome outcome);
    void setSearchResult(const QVector<ZAVezeDevice>& devices) { m_found = devices; }
    // How long a silent device keeps a command waiting.
    void setSilentSeconds(double seconds) { m_silentSeconds = seconds; }

    QStringList commands() const;

    int search(QVector<ZAVezeDevice>& devices, double seconds) override;
    int playVolume(const ZAVezeDevice& device) override;
    int reboot(const ZAVezeDevice& device) override;
    int resetDefault(const ZAVezeDevice& device) override;
    int setAccountPassword(const ZAVezeDevice& device, const QString& account, const QString& password) override;
    int setIpDhcp(const ZAVezeDevice& device) override;
    int setIpStatic(const ZAVezeDevice& device, const QString& ip, const QString& netmask, const QString& gateway,
                    const QString& dns1, const QString& dns2) override;
    int setMac(const ZAVezeDevice& device, const QString& mac) override;
    int setName(const ZAVezeDevice& device, const QString& name) override;
    int setRtpSettings(const ZAVezeDevice& device, const QVector<QString>& destinations) override;
    int setSipSettings(const ZAVezeDevice& device, int line, const ZAVezeSipInfo& sip) override;
    int setDeviceVolume(const ZAVezeDevice& device, int micVolume, int outVolume, int autoMute) override;

private:
    int answer(const ZAVezeDevice& device, const QString& command);
    // Sleeps up to seconds; false when cancelled first.
    bool waitUnlessCancelled(double seconds);

    mutable std::mutex m_mutex;
    QHash<QByteArray, Outcome> m_outcomes;
    QStringList m_commands;
    QVector<ZAVezeDevice> m_found;
    double m_silentSeconds = kCommandSeconds;
};
