#pragma once

#include "RtpSchedule.h"
#include "RtpScheduleItem.h"
#include "RtpSip.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QVector>

// A channel ("zone"): an RTP destination with its codec, its source and the source's settings,
// a schedule, a SIP account and the HTTP switches, plus what a running channel is playing.
// A plain value: every holder has its own copy.
class RtpInfo
{
public:
    // Source kinds: what a channel stores as its own ("source"), and what only a running channel
    // has (a SIP call, a remote app talking). A stop of kSourceAll stops every kind; the action
    // log stores it so.
    enum Source
    {
        kSourcePlaylist = 1,
        kSourceDevice = 6, // a sound card
        kSourceStream = 16,
        kSourceBell = 32,
        kSourceSip = 64,
        kSourceSdk = 128,
        kSourceAll = 247
    };
    // What started or stopped a source ("startedType"), as the action log stores it.
    enum Trigger
    {
        kTriggerManual = 1,
        kTriggerHttp = 2,
        kTriggerSchedule = 3,
        kTriggerSip = 4,
        kTriggerApi = 5, // also: the channel's playback ended by itself
        kTriggerApiStop = 6
    };
    // How a bell plays its sound ("bellLoopType").
    enum BellLoop
    {
        kBellOnce = 0,
        kBellForDuration = 1, // over and over for bellDuration seconds
        kBellLoops = 2        // bellLoops times after the first
    };
    // Which end of a sound card is captured ("deviceType").
    enum DeviceType
    {
        kDeviceCapture = 0,
        kDeviceLoopback = 1 // what a render endpoint plays
    };

    // Stored fields.
    int id = 0;
    qint64 sortIndex = 0; // a larger value lists earlier
    QString name;
    QString address; // "ip:port"
    int codec = 0;   // 0 PCMU, 1 PCMA, 2 G722, 3 MP3, 4 L16 mono, 5 L16 stereo
    int volume = 0;
    int source = 0; // a Source a channel stores: playlist, sound card, stream URL or bell
    QVector<QString> playlist;
    QString deviceId;
    QString deviceName;
    int deviceType = 0; // a DeviceType
    QString streamUrl;
    QString bellPath;
    int bellLoopType = 0; // a BellLoop
    int bellDuration = 0;
    int bellLoops = 0;
    RtpSchedule schedule;
    RtpSip sip;
    int httpApi = 0;
    int httpOutput = 0;

    // Run-time fields, filled by the channel manager for running channels.
    int startedSource = 0; // the Source playing, 0 when stopped
    int startedType = 0;   // its Trigger
    int playingIndex = -1;
    double playingGetTime = 0.0;
    double playingPosition = 0.0;
    double playingDuration = 0.0;

    void clear() { *this = RtpInfo(); }
    bool isValid() const { return id > 0; }

    bool operator==(const RtpInfo& other) const;
    bool operator!=(const RtpInfo& other) const { return !(*this == other); }
    // List order: larger sortIndex first, then larger id.
    bool operator<(const RtpInfo& other) const;

    static int indexOf(const QVector<RtpInfo>& list, int id);

    // Storage texts of the "playlist" and "scheduleItems" columns.
    static QString playlistToString(const QVector<QString>& playlist);
    static QVector<QString> playlistFromString(const QString& text);
    static QString scheduleItemsToString(const QVector<RtpScheduleItem>& items);
    static QVector<RtpScheduleItem> scheduleItemsFromString(const QString& text);

    QJsonObject toJson() const;
    static RtpInfo fromJson(const QJsonObject& object);
    static QJsonArray toJsonArray(const QVector<RtpInfo>& list);
};

Q_DECLARE_METATYPE(RtpInfo)
