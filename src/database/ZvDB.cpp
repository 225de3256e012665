#include "ZvDB.h"

#include "RDLog.h"
#include "VDBHelper.h"

#include <QDateTime>
#include <QSqlError>
#include <QUuid>

#include <mutex>

const char* const ZvDB::kCreateRtp =
    "create table if not exists rtp(id integer primary key autoincrement, sortIndex integer, name "
    "text, address text, codec integer, volume integer, source integer, playlist text, deviceId "
    "text, deviceName text, deviceType integer, streamUrl text, bellPath text, bellLoopType "
    "integer, bellDuration integer, bellLoops integer, scheduleStatus integer, scheduleRepeat "
    "integer, scheduleValue text, scheduleItems text, sipStatus integer, sipServer text, sipPort "
    "text, sipUsername text, sipAuthId text, sipPassword text, sipDisplayName text, sipExpire "
    "text, httpApi integer, httpOutput integer)";
const char* const ZvDB::kDropRtp = "drop table rtp";
const char* const ZvDB::kCreateSettings =
    "create table if not exists settings(id integer primary key autoincrement, key text unique, "
    "value text)";
const char* const ZvDB::kDropSettings = "drop table settings";
const char* const ZvDB::kRtpTable = "rtp";
const char* const ZvDB::kSettingsTable = "settings";

namespace {

const char* const kName = "zv";
const char* const kVersion = "1.0.3";
const char* const kDefaultAddress = "239.255.0.0:8000";
const int kDefaultCodec = 3; // MP3

struct Observers
{
    std::mutex mutex;
    QVector<ZvDBObserver*> list;
};

Observers& observers()
{
    static Observers registry;
    return registry;
}

bool isConstraintError(const QSqlError& error)
{
    return (error.nativeErrorCode().toInt() & 0xff) == 19; // SQLITE_CONSTRAINT
}

QStringList dropStatements()
{
    return {QLatin1String(ZvDB::kDropRtp), QLatin1String(ZvDB::kDropSettings)};
}

QStringList createStatements()
{
    return {QLatin1String(ZvDB::kCreateRtp), QLatin1String(ZvDB::kCreateSettings)};
}

QStringList tableNames()
{
    return {QLatin1String(ZvDB::kRtpTable), QLatin1String(ZvDB::kSettingsTable)};
}

int updateSetting(QSqlDatabase& db, const QString& key, const QString& value)
{
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("update settings set value=:value where key=:key")))
        return -1;
    query.bindValue(QStringLiteral(":key"), key);
    query.bindValue(QStringLiteral(":value"), value);
    return query.exec() ? 0 : -1;
}

} // namespace

ZvDB::ZvDB(bool open)
{
    if (open)
        VDB::open(QString());
}

ZvDB::~ZvDB()
{
    close();
}

QString ZvDB::version() const
{
    return QLatin1String(kVersion);
}

QString ZvDB::path() const
{
    return databasePath();
}

QString ZvDB::name() const
{
    return QLatin1String(kName);
}

QString ZvDB::databasePath()
{
    return databaseFile(fileName());
}

QString ZvDB::fileName()
{
    return QStringLiteral("zv.db");
}

bool ZvDB::createTables(QSqlDatabase& oldDb, QSqlDatabase& newDb)
{
    return VDBHelper::migrateTable(oldDb, newDb, QLatin1String(kDropRtp), QLatin1String(kCreateRtp),
                                   QLatin1String(kRtpTable)) &&
           VDBHelper::migrateTable(oldDb, newDb, QLatin1String(kDropSettings),
                                   QLatin1String(kCreateSettings), QLatin1String(kSettingsTable));
}

int ZvDB::getSetting(const QString& key, QString& value)
{
    QSqlQuery query(m_db);
    if (!query.prepare(QStringLiteral("select * from settings where key=:key")))
        return -1;
    query.bindValue(QStringLiteral(":key"), key);
    if (!query.exec() || !query.next())
        return -1;
    value = VDBHelper::toText(VDBHelper::columnValue(query, QStringLiteral("value")));
    return 0;
}

int ZvDB::setSetting(const QString& key, const QString& value)
{
    QString current;
    if (getSetting(key, current) == 0)
        return updateSetting(m_db, key, value);
    QSqlQuery query(m_db);
    if (!query.prepare(QStringLiteral("insert into settings(key,value) values(:key,:value);")))
        return -1;
    query.bindValue(QStringLiteral(":key"), key);
    query.bindValue(QStringLiteral(":value"), value);
    if (query.exec())
        return VDBHelper::toInt(query.lastInsertId());
    // Another connection wrote the key between the look-up and the insert.
    if (isConstraintError(query.lastError()))
        return updateSetting(m_db, key, value);
    return -1;
}

bool ZvDB::readZvRtps(QVector<ZvRtp>& rows)
{
    const QString sql = QStringLiteral("select * from rtp");
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql) || !query.exec()) {
        VDBHelper::logQueryFailure("ZvDB::getZvRtps", sql, query);
        return false;
    }
    while (query.next()) {
        ZvRtp rtp;
        readZvRtp(query, rtp);
        if (rtp.id > 0)
            rows.append(rtp);
    }
    return true;
}

QVector<ZvRtp> ZvDB::getZvRtps()
{
    QVector<ZvRtp> rows;
    readZvRtps(rows);
    return rows;
}

int ZvDB::getZvRtpById(int id, ZvRtp& out)
{
    const QString sql = QStringLiteral("select * from rtp where id=:id");
    QSqlQuery query(m_db);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDB::getZvRtpById", sql, query);
        return -1;
    }
    query.bindValue(QStringLiteral(":id"), id);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDB::getZvRtpById", sql, query);
        return -1;
    }
    if (query.next())
        readZvRtp(query, out);
    return 0;
}

void ZvDB::bindZvRtp(QSqlQuery& query, const ZvRtp& r)
{
    auto bind = [&query](const char* placeholder, const QVariant& value) {
        query.bindValue(QLatin1String(placeholder), value);
    };
    bind(":sortIndex", qint64(r.sortIndex));
    bind(":name", r.name);
    bind(":address", r.address);
    bind(":codec", r.codec);
    bind(":volume", r.volume);
    bind(":source", r.source);
    bind(":playlist", r.playlist);
    bind(":deviceId", r.deviceId);
    bind(":deviceName", r.deviceName);
    bind(":deviceType", r.deviceType);
    bind(":streamUrl", r.streamUrl);
    bind(":bellPath", r.bellPath);
    bind(":bellLoopType", r.bellLoopType);
    bind(":bellDuration", r.bellDuration);
    bind(":bellLoops", r.bellLoops);
    bind(":scheduleStatus", r.scheduleStatus);
    bind(":scheduleRepeat", r.scheduleRepeat);
    bind(":scheduleValue", r.scheduleValue);
    bind(":scheduleItems", r.scheduleItems);
    bind(":sipStatus", r.sipStatus);
    bind(":sipServer", r.sipServer);
    bind(":sipPort", r.sipPort);
    bind(":sipUsername", r.sipUsername);
    bind(":sipAuthId", r.sipAuthId);
    bind(":sipPassword", r.sipPassword);
    bind(":sipDisplayName", r.sipDisplayName);
    bind(":sipExpire", r.sipExpire);
    bind(":httpApi", r.httpApi);
    bind(":httpOutput", r.httpOutput);
}

int ZvDB::insertZvRtp(const ZvRtp& rtp)
{
    const QString sql = QStringLiteral(
        "insert into rtp(sortIndex, name, address, codec, volume, source, playlist, deviceId, "
        "deviceName, deviceType, streamUrl, bellPath, bellLoopType, bellDuration, bellLoops, "
        "scheduleStatus, scheduleRepeat, scheduleValue, scheduleItems, sipStatus, sipServer, "
        "sipPort, sipUsername, sipAuthId, sipPassword, sipDisplayName, sipExpire, httpApi, "
        "httpOutput) values(:sortIndex, :name, :address, :codec, :volume, :source, :playlist, "
        ":deviceId, :deviceName, :deviceType, :streamUrl, :bellPath, :bellLoopType, "
        ":bellDuration, :bellLoops, :scheduleStatus, :scheduleRepeat, :scheduleValue, "
        ":scheduleItems, :sipStatus, :sipServer, :sipPort, :sipUsername, :sipAuthId, "
        ":sipPassword, :sipDisplayName, :sipExpire, :httpApi, :httpOutput);");
    QSqlQuery query(m_db);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDB::insertZvRtp", sql, query);
        return -1;
    }
    bindZvRtp(query, rtp);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDB::insertZvRtp", sql, query);
        return -1;
    }
    return VDBHelper::toInt(query.lastInsertId());
}

int ZvDB::updateZvRtp(const ZvRtp& rtp)
{
    const QString sql = QStringLiteral(
        "update rtp set "
        "sortIndex=:sortIndex,name=:name,address=:address,codec=:codec,volume=:volume,source=:"
        "source,playlist=:playlist,deviceId=:deviceId,deviceName=:deviceName,deviceType=:"
        "deviceType,streamUrl=:streamUrl,bellPath=:bellPath,bellLoopType=:bellLoopType,"
        "bellDuration=:bellDuration,bellLoops=:bellLoops,scheduleStatus=:scheduleStatus,"
        "scheduleRepeat=:scheduleRepeat,scheduleValue=:scheduleValue,scheduleItems=:"
        "scheduleItems,sipStatus=:sipStatus,sipServer=:sipServer,sipPort=:sipPort,sipUsername=:"
        "sipUsername,sipAuthId=:sipAuthId,sipPassword=:sipPassword,sipDisplayName=:"
        "sipDisplayName,sipExpire=:sipExpire,httpOutput=:httpOutput,httpApi=:httpApi where "
        "id=:id");
    QSqlQuery query(m_db);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDB::updateZvRtp", sql, query);
        return -1;
    }
    bindZvRtp(query, rtp);
    query.bindValue(QStringLiteral(":id"), rtp.id);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDB::updateZvRtp", sql, query);
        return -1;
    }
    if (query.numRowsAffected() == 0)
        RDLOG("ZvDB::updateZvRtp: no channel with id %d", rtp.id);
    return 0;
}

int ZvDB::deleteZvRtp(const ZvRtp& rtp)
{
    const QString sql = QStringLiteral("delete from rtp where id=:id");
    QSqlQuery query(m_db);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDB::deleteZvRtp", sql, query);
        return -1;
    }
    query.bindValue(QStringLiteral(":id"), rtp.id);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDB::deleteZvRtp", sql, query);
        return -1;
    }
    if (query.numRowsAffected() == 0)
        RDLOG("ZvDB::deleteZvRtp: no channel with id %d", rtp.id);
    return 0;
}

int ZvDB::topZvRtpById(int id)
{
    // Two moves within one second still order: the later one goes above the highest index.
    const QString sql = QStringLiteral(
        "update rtp set sortIndex=max(:sortIndex, (select ifnull(max(sortIndex), 0) + 1 from "
        "rtp)) where id=:id");
    QSqlQuery query(m_db);
    if (!query.prepare(sql)) {
        VDBHelper::logQueryFailure("ZvDB::topZvRtpById", sql, query);
        return -1;
    }
    query.bindValue(QStringLiteral(":sortIndex"), qint64(QDateTime::currentSecsSinceEpoch()));
    query.bindValue(QStringLiteral(":id"), id);
    if (!query.exec()) {
        VDBHelper::logQueryFailure("ZvDB::topZvRtpById", sql, query);
        return -1;
    }
    if (query.numRowsAffected() == 0)
        RDLOG("ZvDB::topZvRtpById: no channel with id %d", id);
    return 0;
}

void ZvDB::readZvRtp(const QSqlQuery& query, ZvRtp& r)
{
    auto value = [&query](const char* column) {
        return VDBHelper::columnValue(query, QLatin1String(column));
    };
    auto number = [&value](const char* column) { return VDBHelper::toInt(value(column)); };
    auto text = [&value](const char* column) { return VDBHelper::toText(value(column)); };
    r.id = number("id");
    r.sortIndex = VDBHelper::toInt64(value("sortIndex"));
    r.name = text("name");
    r.address = text("address");
    r.codec = number("codec");
    r.volume = number("volume");
    r.source = number("source");
    r.playlist = text("playlist");
    r.deviceId = text("deviceId");
    r.deviceName = text("deviceName");
    r.deviceType = number("deviceType");
    r.streamUrl = text("streamUrl");
    r.bellPath = text("bellPath");
    r.bellLoopType = number("bellLoopType");
    r.bellDuration = number("bellDuration");
    r.bellLoops = number("bellLoops");
    r.scheduleStatus = number("scheduleStatus");
    r.scheduleRepeat = number("scheduleRepeat");
    r.scheduleValue = text("scheduleValue");
    r.scheduleItems = text("scheduleItems");
    r.sipStatus = number("sipStatus");
    r.sipServer = text("sipServer");
    r.sipPort = text("sipPort");
    r.sipUsername = text("sipUsername");
    r.sipAuthId = text("sipAuthId");
    r.sipPassword = text("sipPassword");
    r.sipDisplayName = text("sipDisplayName");
    r.sipExpire = text("sipExpire");
    r.httpApi = number("httpApi");
    r.httpOutput = number("httpOutput");
}

ZvRtp ZvDB::toZvRtp(const RtpInfo& info)
{
    ZvRtp r;
    r.id = info.id;
    r.sortIndex = info.sortIndex;
    r.name = info.name;
    r.address = info.address;
    r.codec = info.codec;
    r.volume = info.volume;
    r.source = info.source;
    r.playlist = RtpInfo::playlistToString(info.playlist);
    r.deviceId = info.deviceId;
    r.deviceName = info.deviceName;
    r.deviceType = info.deviceType;
    r.streamUrl = info.streamUrl;
    r.bellPath = info.bellPath;
    r.bellLoopType = info.bellLoopType;
    r.bellDuration = info.bellDuration;
    r.bellLoops = info.bellLoops;
    r.scheduleStatus = info.schedule.status;
    r.scheduleRepeat = info.schedule.repeat;
    r.scheduleValue = info.schedule.value;
    r.scheduleItems = RtpInfo::scheduleItemsToString(info.schedule.items);
    r.sipStatus = info.sip.status;
    r.sipServer = info.sip.server;
    r.sipPort = info.sip.port;
    r.sipUsername = info.sip.username;
    r.sipAuthId = info.sip.authId;
    r.sipPassword = info.sip.password;
    r.sipDisplayName = info.sip.displayName;
    r.sipExpire = info.sip.expire;
    r.httpApi = info.httpApi;
    r.httpOutput = info.httpOutput;
    return r;
}

RtpInfo ZvDB::toRtpInfo(const ZvRtp& r)
{
    RtpInfo info;
    info.id = r.id;
    info.sortIndex = r.sortIndex;
    info.name = r.name;
    info.address = r.address;
    info.codec = r.codec;
    info.volume = r.volume;
    info.source = r.source;
    info.playlist = RtpInfo::playlistFromString(r.playlist);
    info.deviceId = r.deviceId;
    info.deviceName = r.deviceName;
    info.deviceType = r.deviceType;
    info.streamUrl = r.streamUrl;
    info.bellPath = r.bellPath;
    info.bellLoopType = r.bellLoopType;
    info.bellDuration = r.bellDuration;
    info.bellLoops = r.bellLoops;
    info.schedule.status = r.scheduleStatus;
    info.schedule.repeat = r.scheduleRepeat;
    info.schedule.value = r.scheduleValue;
    info.schedule.items = RtpInfo::scheduleItemsFromString(r.scheduleItems);
    info.sip.status = r.sipStatus;
    info.sip.server = r.sipServer;
    info.sip.port = r.sipPort;
    info.sip.username = r.sipUsername;
    info.sip.authId = r.sipAuthId;
    info.sip.password = r.sipPassword;
    info.sip.displayName = r.sipDisplayName;
    info.sip.expire = r.sipExpire;
    info.httpApi = r.httpApi;
    info.httpOutput = r.httpOutput;
    return info;
}

QVector<RtpInfo> ZvDB::toRtpInfos(const QVector<ZvRtp>& rows)
{
    QVector<RtpInfo> infos;
    infos.reserve(rows.size());
    for (const ZvRtp& row : rows)
        infos.append(toRtpInfo(row));
    return infos;
}

bool ZvDB::exportTo(const QString& target)
{
    return VDBHelper::exportDb(databasePath(), target, dropStatements(), createStatements(),
                               tableNames(), QLatin1String(kName), QLatin1String(kVersion));
}

bool ZvDB::importFrom(const QString& source)
{
    notifyBegin();
    const bool imported =
        VDBHelper::importDb(source, databasePath(), dropStatements(), createStatements(),
                            tableNames(), QLatin1String(kName), QLatin1String(kVersion));
    notifyEnd();
    return imported;
}

void ZvDB::addObserver(ZvDBObserver* observer)
{
    Observers& registry = observers();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.list.append(observer);
}

void ZvDB::removeObserver(ZvDBObserver* observer)
{
    Observers& registry = observers();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.list.removeOne(observer);
}

void ZvDB::notifyBegin()
{
    Observers& registry = observers();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (ZvDBObserver* observer : registry.list)
        observer->onImportBegin();
}

void ZvDB::notifyEnd()
{
    Observers& registry = observers();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (ZvDBObserver* observer : registry.list)
        observer->onImportEnd();
}

void ZvDB::replaceBegin()
{
    notifyBegin();
}

void ZvDB::replaceEnd()
{
    notifyEnd();
}

void ZvDB::initDefaults()
{
    const struct
    {
        const char* key;
        const char* value;
    } defaults[] = {{"auto run", "0"}, {"sip port", "6832"}, {"http port", "5262"}};
    for (const auto& setting : defaults) {
        QString value;
        if (getSetting(QLatin1String(setting.key), value) < 0)
            setSetting(QLatin1String(setting.key), QLatin1String(setting.value));
    }
    // The installation's identity toward remote apps ("uid"): made once, never rewritten.
    QString installationId;
    if (getSetting(QLatin1String(kInstallationIdKey), installationId) < 0)
        setSetting(QLatin1String(kInstallationIdKey), QUuid::createUuid().toString(QUuid::WithoutBraces));
    QVector<ZvRtp> rows;
    if (readZvRtps(rows) && rows.isEmpty()) {
        ZvRtp rtp;
        rtp.name = QLatin1String(kDefaultAddress);
        rtp.address = QLatin1String(kDefaultAddress);
        rtp.codec = kDefaultCodec;
        insertZvRtp(rtp);
    }
}
