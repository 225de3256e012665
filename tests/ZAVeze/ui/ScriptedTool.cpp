#include "ScriptedTool.h"

#include "RDThread.h"
#include "ZAVezeFrame.h"

#include <QStringList>

#include <chrono>
#include <thread>

void ScriptedTool::setOutcome(const QByteArray& mac, Outcome outcome)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outcomes.insert(mac, outcome);
}

QStringList ScriptedTool::commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

bool ScriptedTool::waitUnlessCancelled(double seconds)
{
    const double end = RDThread::monotonicTime() + seconds;
    while (RDThread::monotonicTime() < end) {
        if (isCancelled())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return !isCancelled();
}

int ScriptedTool::answer(const ZAVezeDevice& device, const QString& command)
{
    Outcome outcome = Ok;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A cancelled job sends nothing more, as with the real tool.
        if (isCancelled())
            return -1;
        m_commands << command.arg(ZAVezeFrame::macText(device.mac));
        outcome = m_outcomes.value(device.mac, Ok);
    }
    switch (outcome) {
    case Ok:
        return 0;
    case Fail:
        return -1;
    case Silent:
        waitUnlessCancelled(m_silentSeconds);
        return -1;
    }
    return -1;
}

int ScriptedTool::search(QVector<ZAVezeDevice>& devices, double seconds)
{
    if (!waitUnlessCancelled(seconds))
        return devices.size();
    devices += m_found;
    return devices.size();
}

int ScriptedTool::playVolume(const ZAVezeDevice& device)
{
    return answer(device, QStringLiteral("PlayVolume %1"));
}

int ScriptedTool::reboot(const ZAVezeDevice& device)
{
    return answer(device, QStringLiteral("Reboot %1"));
}

int ScriptedTool::resetDefault(const ZAVezeDevice& device)
{
    return answer(device, QStringLiteral("ResetDefault %1"));
}

int ScriptedTool::setAccountPassword(const ZAVezeDevice& device, const QString& account, const QString& password)
{
    return answer(device, QStringLiteral("SetAccount %1 ") + account + QLatin1Char(' ') + password);
}

int ScriptedTool::setIpDhcp(const ZAVezeDevice& device)
{
    return answer(device, QStringLiteral("SetIpDhcp %1"));
}

int ScriptedTool::setIpStatic(const ZAVezeDevice& device, const QString& ip, const QString& netmask,
                              const QString& gateway, const QString& dns1, const QString& dns2)
{
    return answer(device, QStringLiteral("SetIpStatic %1 ") + QStringList{ip, netmask, gateway, dns1, dns2}.join(' '));
}

int ScriptedTool::setMac(const ZAVezeDevice& device, const QString& mac)
{
    return answer(device, QStringLiteral("SetMac %1 ") + mac);
}

int ScriptedTool::setName(const ZAVezeDevice& device, const QString& name)
{
    return answer(device, QStringLiteral("SetName %1 ") + name);
}

int ScriptedTool::setRtpSettings(const ZAVezeDevice& device, const QVector<QString>& destinations)
{
    return answer(device, QStringLiteral("SetRtp %1 ") + QStringList(destinations.toList()).join(','));
}

int ScriptedTool::setSipSettings(const ZAVezeDevice& device, int line, const ZAVezeSipInfo& sip)
{
    return answer(device, QStringLiteral("SetSip %1 ") + QString::number(line) + QLatin1Char(' ') + sip.summary());
}

int ScriptedTool::setDeviceVolume(const ZAVezeDevice& device, int micVolume, int outVolume, int autoMute)
{
    return answer(device,
                  QStringLiteral("SetVolume %1 ") + QStringLiteral("%1 %2 %3").arg(micVolume).arg(outVolume).arg(autoMute));
}
