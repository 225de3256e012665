#include "RtpInfoDialog.h"

#include "RDLog.h"
#include "RtpInfoListWidget.h"
#include "RtpInfoItemWidget.h"
#include "RDLabel.h"
#include "RtpInfoWidget.h"
#include "RtpManager.h"

#include <QMetaObject>
#include <QPushButton>
#include <QThread>

RtpInfoDialog::RtpInfoDialog(QWidget* parent)
    : RDDialog(parent)
    , m_list(new RtpInfoListWidget(this))
    , m_form(new RtpInfoWidget(this))
{
    if (!(windowFlags() & Qt::WindowMinimizeButtonHint))
        setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
    setMinimumSize(kWidth, kHeight);
    resize(kWidth, kHeight);
    localize();

    connect(m_list, &RtpInfoListWidget::requestAddRtpInfo, this, &RtpInfoDialog::addRtpInfo);
    connect(m_list, &RtpInfoListWidget::requestSaveRtpInfo, this, &RtpInfoDialog::saveRtpInfo);
    connect(m_list, &RtpInfoListWidget::requestDeleteRtpInfo, this, &RtpInfoDialog::deleteRtpInfo);
    connect(m_list, &RtpInfoListWidget::requestStartRtpInfo, this, &RtpInfoDialog::startRtpInfo);
    connect(m_list, &RtpInfoListWidget::requestStopRtpInfo, this, &RtpInfoDialog::stopRtpInfo);
    connect(m_list, &RtpInfoListWidget::requestTopRtpInfo, this, &RtpInfoDialog::topRtpInfo);
    connect(m_list, &RtpInfoListWidget::clickRtpInfo, this, &RtpInfoDialog::onClickRtpInfo);
    connect(m_form, &RtpInfoWidget::requestSaveRtpInfo, this, &RtpInfoDialog::saveRtpInfo);
    connect(m_form, &RtpInfoWidget::requestSeekFile, this, &RtpInfoDialog::seekPlaylistFile);
    connect(m_form, &RtpInfoWidget::requestChangeFile, this, &RtpInfoDialog::changePlaylistFile);
    connect(m_form->startButton(), &QPushButton::clicked, this, &RtpInfoDialog::onClickStartButton);
    connect(m_form->saveButton(), &QPushButton::clicked, this, &RtpInfoDialog::onClickSaveButton);

    if (RtpManager* manager = RtpManager::instance())
        manager->addObserver(this);
}

RtpInfoDialog::~RtpInfoDialog()
{
    if (RtpManager* manager = RtpManager::instance())
        manager->removeObserver(this);
    // Closing a shown window on its way out ends the form's editing, which asks for a save: no
    // slot of this half-destroyed object may answer.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
}

void RtpInfoDialog::localize()
{
    m_list->titleLabel()->setText(RDLanguage::translate(QStringLiteral("All Zones")));
    m_form->localize();
}

void RtpInfoDialog::showSelected()
{
    RtpInfo selected;
    m_list->selectedRtpInfo(selected);
    m_form->setRtpInfo(selected);
}

void RtpInfoDialog::reloadRtpInfos()
{
    RtpManager* manager = RtpManager::instance();
    m_list->setRtpInfos(manager ? manager->getRtpInfos() : QVector<RtpInfo>());
    showSelected();
}

void RtpInfoDialog::addRtpInfo()
{
    RtpManager* manager = RtpManager::instance();
    if (!manager)
        return;
    RtpInfo info;
    m_form->initRtpInfo(info);
    info.id = manager->addRtpInfo(info);
    if (info.id > 0) {
        info.name = QStringLiteral("%1 %2").arg(RDLanguage::translate(QStringLiteral("Zone"))).arg(info.id);
        manager->updateRtpInfo(info);
    }
    const QVector<RtpInfo> infos = manager->getRtpInfos();
    m_list->setRtpInfos(infos);
    const int index = RtpInfo::indexOf(infos, info.id);
    if (index >= 0)
        info = infos[index];
    m_list->selectRtpInfo(info);
    m_form->setRtpInfo(info);
}

void RtpInfoDialog::saveRtpInfo(bool update, bool schedule, bool sip)
{
    RtpManager* manager = RtpManager::instance();
    if (!manager)
        return;
    RtpInfo info;
    m_form->getRtpInfo(info);
    if (info.id != 0)
        manager->updateRtpInfo(info);
    else
        manager->addRtpInfo(info);
    m_list->setRtpInfos(manager->getRtpInfos());
    if (update)
        showSelected();
    if (schedule)
        manager->reloadSchedule(info);
    if (sip)
        manager->reloadSip(info);
}

void RtpInfoDialog::topRtpInfo(RtpInfo rtpInfo)
{
    if (RtpManager* manager = RtpManager::instance())
        manager->topRtpInfo(rtpInfo);
    reloadRtpInfos();
}

void RtpInfoDialog::deleteRtpInfo(RtpInfo rtpInfo)
{
    if (RtpManager* manager = RtpManager::instance()) {
        // Stopped first, so that its sound ends and the log holds the stop, before the row goes.
        manager->stopRtpInfo(rtpInfo, RtpInfo::kSourceAll, RtpInfo::kTriggerManual);
        manager->deleteRtpInfo(rtpInfo);
    }
    reloadRtpInfos();
}

void RtpInfoDialog::storeAndStart(const RtpInfo& info)
{
    RtpManager* manager = RtpManager::instance();
    if (!manager)
        return;
    manager->updateRtpInfo(info);
    const int result = manager->startRtpInfo(info, info.source, RtpInfo::kTriggerManual);
    if (result < 0) {
        RDLOG("zone %d (%s): start of source %d failed (%d)", info.id, info.name.toUtf8().constData(), info.source,
              result);
        showToast(RDLanguage::translate(QStringLiteral("Start Failure")));
    }
}

void RtpInfoDialog::stopAll(const RtpInfo& info)
{
    if (RtpManager* manager = RtpManager::instance())
        manager->stopRtpInfo(info, RtpInfo::kSourceAll, RtpInfo::kTriggerManual);
}

void RtpInfoDialog::startRtpInfo(RtpInfo rtpInfo)
{
    storeAndStart(rtpInfo);
    reloadRtpInfos();
}

void RtpInfoDialog::stopRtpInfo(RtpInfo rtpInfo)
{
    stopAll(rtpInfo);
    reloadRtpInfos();
}

void RtpInfoDialog::onClickStartButton()
{
    RtpInfo info;
    m_form->getRtpInfo(info);
    if (info.id <= 0)
        return;
    if (info.startedSource != 0)
        stopAll(info);
    else
        storeAndStart(info);
    reloadRtpInfos();
}

void RtpInfoDialog::onClickSaveButton()
{
    saveRtpInfo(true, false, true);
}

void RtpInfoDialog::onClickRtpInfo(RtpInfo rtpInfo)
{
    m_list->selectRtpInfo(rtpInfo);
    m_form->setRtpInfo(rtpInfo);
}

void RtpInfoDialog::seekPlaylistFile(RtpInfo rtpInfo, int index, double progress)
{
    if (RtpManager* manager = RtpManager::instance())
        manager->seekPlaylistFile(rtpInfo, index, progress);
}

void RtpInfoDialog::changePlaylistFile(RtpInfo rtpInfo, int index)
{
    if (RtpManager* manager = RtpManager::instance())
        manager->changePlaylistFile(rtpInfo, index);
}

void RtpInfoDialog::refreshAll()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "refreshAll", Qt::QueuedConnection);
        return;
    }
    reloadRtpInfos();
}

void RtpInfoDialog::refreshRtpInfo(int id)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "refreshRtpInfo", Qt::QueuedConnection, Q_ARG(int, id));
        return;
    }
    RtpManager* manager = RtpManager::instance();
    if (!manager)
        return;
    RtpInfo info;
    manager->getRtpInfo(id, info);
    if (info.id <= 0)
        return;
    for (int i = 0; i < m_list->rowCount(); ++i) {
        RtpInfoItemWidget* row = m_list->itemWidget(i);
        if (row && row->rtpInfo().id == info.id)
            row->setRtpInfo(info);
    }
    if (m_form->shownRtpInfo().id == info.id)
        m_form->refreshRtpInfo(info);
}

void RtpInfoDialog::onRtpStarted(const RtpInfo& info)
{
    refreshRtpInfo(info.id);
}

void RtpInfoDialog::onRtpStopped(const RtpInfo& info)
{
    refreshRtpInfo(info.id);
}

void RtpInfoDialog::onRtpInfoChanged(const RtpInfo& info)
{
    refreshRtpInfo(info.id);
}

void RtpInfoDialog::resizeEvent(QResizeEvent* event)
{
    RDDialog::resizeEvent(event);
    m_list->setGeometry(0, 0, kListWidth, height());
    const int formLeft = m_list->geometry().right();
    m_form->setGeometry(formLeft, 0, width() - formLeft, height());
}
