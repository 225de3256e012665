#pragma once

#include "ZAVezeReply.h"
#include "ZAVezeSipInfo.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QVector>

// One endpoint device as a search found it: the raw addresses that frames to it use (from the
// ARP sender fields of its search reply), the object it sent about itself, its SIP lines and its
// RTP destinations. A value; the operation jobs patch their copies after a device accepted a
// change. Getters are tolerant of the devices' varying types: a text getter reads numbers as
// decimal text, an int getter reads decimal strings.
class ZAVezeDevice
{
public:
    // Destinations a device reports and accepts at most.
    static constexpr int kMaxRtp = 10;
    static constexpr int kSipLines = 2;

    ZAVezeDevice() = default;
    static ZAVezeDevice fromReply(const ZAVezeReply& reply);

    QByteArray mac; // 6 raw bytes
    QByteArray ip;  // 4 raw bytes
    QJsonObject info;
    QVector<ZAVezeSipInfo> sip;
    QVector<QString> rtp;

    QString account() const { return text("account"); }
    int autoMute() const { return number("autoMute"); }
    QString dns1() const { return text("dns1"); }
    QString dns2() const { return text("dns2"); }
    QString appVersion() const { return text("appVersion"); }
    QString gateway() const { return text("gateway"); }
    QString ipAddress() const { return text("ip"); }
    QString ipMode() const { return text("IpMode"); }
    QString macAddress() const { return text("mac"); }
    int micVolume() const { return number("micVolume"); }
    QString name() const { return text("name"); }
    QString netmask() const { return text("netmask"); }
    QString password() const { return text("password"); }
    QString rtpInfo() const { return text("rtpInfo"); }
    QString sipInfo() const { return text("sipInfo"); }
    int outVolume() const { return number("outVolume"); }

    void setAccount(const QString& v) { setText("account", v); }
    void setAutoMute(int v) { setNumber("autoMute", v); }
    void setDns1(const QString& v) { setText("dns1", v); }
    void setDns2(const QString& v) { setText("dns2", v); }
    void setAppVersion(const QString& v) { setText("appVersion", v); }
    void setGateway(const QString& v) { setText("gateway", v); }
    void setIpAddress(const QString& v) { setText("ip", v); }
    void setIpMode(const QString& v) { setText("IpMode", v); }
    void setMacAddress(const QString& v) { setText("mac", v); }
    void setMicVolume(int v) { setNumber("micVolume", v); }
    void setName(const QString& v) { setText("name", v); }
    void setNetmask(const QString& v) { setText("netmask", v); }
    void setPassword(const QString& v) { setText("password", v); }
    void setRtpInfo(const QString& v) { setText("rtpInfo", v); }
    void setSipInfo(const QString& v) { setText("sipInfo", v); }
    void setOutVolume(int v) { setNumber("outVolume", v); }

    // Any key, read as the text getters read; ok tells whether the key was present.
    QString value(const QString& key, bool* ok = nullptr) const;
    // "mic,out".
    QString volume() const;
    // "mic,out" sets both (a part that is not a number gives 0); any other count of parts
    // changes nothing.
    void setVolume(const QString& text);
    // The list, and "rtpInfo" := its first non-empty entry (kept when there is none).
    void setRtp(const QVector<QString>& list);
    // Replaces an existing line (others: nothing); line 0 also rewrites "sipInfo".
    void setSip(int line, const ZAVezeSipInfo& sipLine);

    // The lists from the replies to "GetRtpSettings" and "GetSipSettings".
    void parseRtpSettings(const ZAVezeReply& reply);
    void parseSipSettings(const ZAVezeReply& reply);

    // 0 when both denote the same device: equal MAC bytes. The MAC never changes during a job,
    // while factory-fresh devices often share one IPv4 address.
    int compare(const ZAVezeDevice& other) const;

private:
    QString text(const char* key) const { return value(QLatin1String(key)); }
    int number(const char* key) const;
    void setText(const char* key, const QString& v) { info.insert(QLatin1String(key), v); }
    void setNumber(const char* key, int v) { info.insert(QLatin1String(key), v); }
};

Q_DECLARE_METATYPE(ZAVezeDevice)
