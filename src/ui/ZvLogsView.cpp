#include "ZvLogsView.h"

#include "RDPagingIndicateView.h"
#include "RDTr.h"
#include "RtpInfo.h"
#include "RtpManager.h"
#include "ZvDBLog.h"

#include <QHeaderView>
#include <QTableWidget>

namespace {

struct Name
{
    int value;
    const char* text;
};

const Name kSourceNames[] = {
    {RtpInfo::kSourcePlaylist, "Playlist"}, {2, "Microphone"}, {4, "Speaker"},
    {RtpInfo::kSourceDevice, "Audio Source"}, {RtpInfo::kSourceStream, "Live Radio"},
    {RtpInfo::kSourceBell, "Bell Ringing"}, {RtpInfo::kSourceSip, "SIP"},
    {RtpInfo::kSourceSdk, "API"}, {RtpInfo::kSourceAll, "All"},
};

// Trigger texts of start rows and of stop rows: a stop of trigger 5 is the end of playback, a
// start of trigger 5 an API request.
struct TriggerName
{
    int trigger;
    const char* start;
    const char* stop;
};

const TriggerName kTriggerNames[] = {
    {RtpInfo::kTriggerManual, "Manual", "Manual"},     {RtpInfo::kTriggerHttp, "HTTP", "HTTP"},
    {RtpInfo::kTriggerSchedule, "Schedule", "Schedule"}, {RtpInfo::kTriggerSip, "SIP", "SIP"},
    {RtpInfo::kTriggerApi, "API", "Play Ended"},       {RtpInfo::kTriggerApiStop, "", "API"},
};

// The protocol names "HTTP", "SIP" and "API" read the same in every language.
bool isTranslatedTrigger(const char* text)
{
    const QLatin1String name(text);
    return name == QLatin1String("Manual") || name == QLatin1String("Schedule") ||
           name == QLatin1String("Play Ended");
}

const char* const kCodecNames[] = {"PCMU", "PCMA", "G722", "MP3", "L16 Mono", "L16 Stereo"};

constexpr int kNavigatorHeight = 30;

} // namespace

ZvLogsView::ZvLogsView(QWidget* parent)
    : RDWidget(parent)
    , m_table(new QTableWidget(this))
    , m_navigator(new RDPagingIndicateView(this))
    , m_log(std::make_unique<ZvDBLog>())
{
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStyleSheet(QStringLiteral(
        "QHeaderView::section{border-top:1px solid #FF888888;border-left:0.5px solid #FF888888;"
        "border-right:0.5px solid #FF888888;border-bottom:1px solid #FF888888;background-color:#00FFFFFF;}"));
    // Queued: the page loads after the navigator's click handling has returned.
    connect(m_navigator, &RDPagingIndicateView::currentPageChanged, this, &ZvLogsView::onGotoPage,
            Qt::QueuedConnection);
}

ZvLogsView::~ZvLogsView() = default;

void ZvLogsView::setFilter(const QString& address, const QString& start, const QString& end)
{
    m_address = address;
    m_start = start;
    m_end = end;
}

void ZvLogsView::reload()
{
    m_total = m_log->getLogsCount(m_address, m_start, m_end);
    // A new search starts on its first page.
    m_navigator->setCurrentPage(0);
    showRows(m_log->getLogs(0, kPageSize, m_address, m_start, m_end));
}

void ZvLogsView::onGotoPage(int page)
{
    showRows(m_log->getLogs(page * kPageSize, kPageSize, m_address, m_start, m_end));
}

QString ZvLogsView::actionName(int action)
{
    return action == RtpManager::kActionStart ? rdTr("Start") : rdTr("Stop");
}

QString ZvLogsView::sourceName(int source)
{
    for (const Name& name : kSourceNames) {
        if (name.value == source)
            return rdTr(name.text);
    }
    return QString();
}

QString ZvLogsView::triggerName(int action, int trigger)
{
    for (const TriggerName& name : kTriggerNames) {
        if (name.trigger != trigger)
            continue;
        const char* text = action == RtpManager::kActionStart ? name.start : name.stop;
        if (!*text)
            return QString();
        return isTranslatedTrigger(text) ? rdTr(text) : QString(QLatin1String(text));
    }
    return QString();
}

QString ZvLogsView::codecName(int codec)
{
    if (codec < 0 || codec >= int(sizeof kCodecNames / sizeof kCodecNames[0]))
        return QString();
    return rdTr(kCodecNames[codec]);
}

void ZvLogsView::showRows(const QVector<ZvLog>& rows)
{
    m_navigator->setTotal(std::max(m_total, 0), kPageSize);
    m_table->clear();
    m_table->setColumnCount(6);
    m_table->setRowCount(rows.size());
    m_table->setHorizontalHeaderLabels({rdTr("Multicast IP"), rdTr("Action"), rdTr("Source"), rdTr("Type"),
                                        rdTr("Codec"), rdTr("DateTime")});
    // The columns share the width; the address and the time are never cut short.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(5, QHeaderView::ResizeToContents);
    for (int r = 0; r < rows.size(); ++r) {
        const ZvLog& row = rows.at(r);
        const QString texts[] = {row.rtpAddress, actionName(row.action), sourceName(row.source),
                                 triggerName(row.action, row.type), codecName(row.codec), row.dateTime};
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setTextAlignment(Qt::AlignCenter);
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            m_table->setItem(r, c, item);
        }
    }
}

void ZvLogsView::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    const int navigatorTop = height() - 10 - kNavigatorHeight;
    m_navigator->setGeometry(0, navigatorTop, width(), kNavigatorHeight);
    m_table->setGeometry(0, 0, width(), std::max(0, navigatorTop - 10));
}
