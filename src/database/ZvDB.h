#pragma once

#include "RtpInfo.h"
#include "VDB.h"
#include "ZvDBObserver.h"
#include "ZvRtp.h"

#include <QSqlQuery>
#include <QVector>

// The channels and the settings, in "zv.db". Objects belong to the thread that made them:
// every thread makes its own, uses it and destroys it.
class ZvDB : public VDB
{
public:
    explicit ZvDB(bool open = true);
    ~ZvDB() override;

    QString version() const override;
    QString path() const override;
    bool createTables(QSqlDatabase& oldDb, QSqlDatabase& newDb) override;
    QString name() const override;

    static QString databasePath();
    static QString fileName();

    // 0 and value set when the key exists; -1 (value untouched) otherwise.
    int getSetting(const QString& key, QString& value);
    // The new row's id for a new key, 0 for an existing one, -1 on failure.
    int setSetting(const QString& key, const QString& value);

    QVector<ZvRtp> getZvRtps();
    // 0 when the statement ran (out untouched when no row has that id), -1 on failure.
    int getZvRtpById(int id, ZvRtp& out);
    int insertZvRtp(const ZvRtp& rtp);
    int updateZvRtp(const ZvRtp& rtp);
    int deleteZvRtp(const ZvRtp& rtp);
    // Lists the channel first: its sort index becomes the current time, or one above the
    // highest sort index when that is later.
    int topZvRtpById(int id);

    static void readZvRtp(const QSqlQuery& query, ZvRtp& rtp);
    static ZvRtp toZvRtp(const RtpInfo& info);
    static RtpInfo toRtpInfo(const ZvRtp& rtp);
    static QVector<RtpInfo> toRtpInfos(const QVector<ZvRtp>& rows);

    static bool exportTo(const QString& target);
    static bool importFrom(const QString& source);
    static void addObserver(ZvDBObserver* observer);
    static void removeObserver(ZvDBObserver* observer);

    // Missing settings (an installation id among them) and, when there is no channel, the
    // default channel.
    void initDefaults();

    // The settings key of the installation id that initDefaults stores.
    static constexpr const char* kInstallationIdKey = "installation id";

    static const char* const kCreateRtp;
    static const char* const kDropRtp;
    static const char* const kCreateSettings;
    static const char* const kDropSettings;
    static const char* const kRtpTable;
    static const char* const kSettingsTable;

protected:
    void replaceBegin() override;
    void replaceEnd() override;

private:
    bool readZvRtps(QVector<ZvRtp>& rows);
    void bindZvRtp(QSqlQuery& query, const ZvRtp& rtp);
    static void notifyBegin();
    static void notifyEnd();
};
