// Device table figures, offscreen: filling the table (setDevices, 13 cell widgets a row) and a
// language change (which rebuilds every row) with 250 and 1,000 devices.

#include "RDLocalize.h"
#include "ZAVezeDeviceTableWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

namespace {

QVector<ZAVezeDevice> makeDevices(int count)
{
    QVector<ZAVezeDevice> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        ZAVezeDevice d;
        d.mac = QByteArray::fromHex("020000000000");
        d.mac[4] = char(i >> 8);
        d.mac[5] = char(i);
        d.ip = QByteArray::fromHex("0a000000");
        d.ip[2] = char(i >> 8);
        d.ip[3] = char(i);
        const QString ip = QStringLiteral("10.0.%1.%2").arg(i >> 8).arg(i & 0xff);
        d.info = QJsonObject{{"name", QStringLiteral("Speaker %1").arg(i)},
                             {"mac", QStringLiteral("02:00:00:00:%1:%2").arg(i >> 8, 2, 16, QLatin1Char('0')).arg(i & 0xff, 2, 16, QLatin1Char('0'))},
                             {"ip", ip},
                             {"netmask", "255.255.0.0"},
                             {"gateway", "10.0.0.1"},
                             {"sipInfo", QStringLiteral("%1@10.0.0.2:5060").arg(1000 + i)},
                             {"rtpInfo", "239.255.0.1:8000"},
                             {"appVersion", "V1.4.2"},
                             {"micVolume", 5},
                             {"outVolume", 7},
                             {"account", "admin"}};
        devices.append(d);
    }
    return devices;
}

// Milliseconds of the body, with the events it posts (deleted rows) processed as well.
template <typename Body>
double timed(Body body)
{
    QElapsedTimer timer;
    timer.start();
    body();
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::printf("%-8s %14s %14s %14s\n", "devices", "first fill ms", "refill ms", "language ms");
    for (int count : {250, 1000}) {
        const QVector<ZAVezeDevice> devices = makeDevices(count);
        ZAVezeDeviceTableWidget table;
        table.resize(1500, 800);
        table.show();
        const double first = timed([&] { table.setDevices(devices); });
        const double again = timed([&] { table.setDevices(devices); });
        const double language = timed([] { RDLocalize::localizeAll(); });
        std::printf("%-8d %14.1f %14.1f %14.1f\n", count, first, again, language);
    }
    return 0;
}
