#include "RtpInfoListWidget.h"

#include "RDButton.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDPixmapCache.h"
#include "RtpInfoItemWidget.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>

namespace {

constexpr int kButtonPixmapWidth = 20;
constexpr int kButtonSize = 25;
constexpr int kRowHeight = 30;
// The channel an action of the context menu belongs to.
const char* const kIdProperty = "rtpInfoId";

} // namespace

RtpInfoListWidget::RtpInfoListWidget(QWidget* parent)
    : RDWidget(parent)
    , m_titleLabel(new RDLabel(this))
    , m_saveButton(new RDButton(this))
    , m_addButton(new RDButton(this))
    , m_list(new QListWidget(this))
{
    m_titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_saveButton->setPixmap(cachedPixmap(QStringLiteral(":/save_style.png"), kButtonPixmapWidth));
    m_addButton->setPixmap(cachedPixmap(QStringLiteral(":/add_style.png"), kButtonPixmapWidth));
    m_list->setFrameStyle(0);
    // The view's own current-item frame would stand beside the rows' mark.
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);

    connect(m_list, &QListWidget::itemClicked, this, &RtpInfoListWidget::onItemClicked);
    connect(m_list, &QWidget::customContextMenuRequested, this, &RtpInfoListWidget::onListWidgetContextMenu);
    connect(m_saveButton, &RDWidget::clicked, this, &RtpInfoListWidget::onClickSaveButton);
    connect(m_addButton, &RDWidget::clicked, this, &RtpInfoListWidget::onClickAddButton);
}

RtpInfoListWidget::~RtpInfoListWidget()
{
    delete m_menu;
}

int RtpInfoListWidget::rowCount() const
{
    return m_list->count();
}

RtpInfoItemWidget* RtpInfoListWidget::itemWidget(int index) const
{
    QListWidgetItem* item = m_list->item(index);
    return item ? qobject_cast<RtpInfoItemWidget*>(m_list->itemWidget(item)) : nullptr;
}

void RtpInfoListWidget::setRtpInfos(const QVector<RtpInfo>& infos)
{
    RtpInfo marked;
    for (int i = 0; i < m_list->count(); ++i) {
        const RtpInfoItemWidget* row = itemWidget(i);
        if (row && row->isSelected())
            marked = row->rtpInfo();
    }
    m_list->clear();
    bool markedOne = false;
    for (const RtpInfo& info : infos) {
        auto* item = new QListWidgetItem(m_list);
        // The row's own colour is the mark; the view's selection would show a second one.
        item->setFlags(Qt::ItemIsEnabled);
        addItemWidget(item, info);
        const bool mark = !markedOne && marked.isValid() && marked.id == info.id;
        itemWidget(m_list->count() - 1)->setSelected(mark);
        markedOne = markedOne || mark;
    }
    if (!markedOne && m_list->count() > 0)
        itemWidget(0)->setSelected(true);
}

void RtpInfoListWidget::addItemWidget(QListWidgetItem* item, const RtpInfo& info)
{
    auto* row = new RtpInfoItemWidget(m_list);
    row->setRtpInfo(info);
    row->setVisible(true);
    m_list->setItemWidget(item, row);
    item->setSizeHint(QSize(0, kRowHeight));
    connect(row, &RtpInfoItemWidget::clickStartButton, this, &RtpInfoListWidget::onClickItemStartButton);
}

void RtpInfoListWidget::selectRtpInfo(const RtpInfo& info)
{
    for (int i = 0; i < m_list->count(); ++i) {
        if (RtpInfoItemWidget* row = itemWidget(i))
            row->setSelected(row->rtpInfo().isValid() && row->rtpInfo().id == info.id);
    }
}

int RtpInfoListWidget::selectedRtpInfo(RtpInfo& out) const
{
    for (int i = 0; i < m_list->count(); ++i) {
        const RtpInfoItemWidget* row = itemWidget(i);
        if (row && row->isSelected()) {
            out = row->rtpInfo();
            return 0;
        }
    }
    return -1;
}

void RtpInfoListWidget::onItemClicked(QListWidgetItem* item)
{
    const auto* row = qobject_cast<RtpInfoItemWidget*>(m_list->itemWidget(item));
    if (row && row->rtpInfo().isValid())
        emit clickRtpInfo(row->rtpInfo());
}

void RtpInfoListWidget::requestStartOrStop(const RtpInfo& info)
{
    if (info.startedSource != 0)
        emit requestStopRtpInfo(info);
    else
        emit requestStartRtpInfo(info);
}

void RtpInfoListWidget::onClickItemStartButton()
{
    const auto* row = qobject_cast<RtpInfoItemWidget*>(sender());
    if (row && row->rtpInfo().isValid())
        requestStartOrStop(row->rtpInfo());
}

void RtpInfoListWidget::onListWidgetContextMenu(QPoint pos)
{
    showContextMenu(pos, m_list->indexAt(pos));
}

void RtpInfoListWidget::showContextMenu(const QPoint& pos, const QModelIndex& index)
{
    if (m_menu) {
        m_menu->hide();
        delete m_menu;
    }
    m_menu = new QMenu(m_list);
    const RtpInfoItemWidget* row = index.isValid() ? itemWidget(index.row()) : nullptr;
    if (row && row->rtpInfo().isValid()) {
        const RtpInfo& info = row->rtpInfo();
        const auto add = [this, &info](const char* text, void (RtpInfoListWidget::*slot)(bool)) {
            QAction* action = m_menu->addAction(RDLanguage::translate(QString::fromLatin1(text)));
            action->setProperty(kIdProperty, info.id);
            connect(action, &QAction::triggered, this, slot);
        };
        add(info.startedSource != 0 ? "Stop" : "Start", &RtpInfoListWidget::onClickStartAction);
        m_menu->addSeparator();
        add("Top", &RtpInfoListWidget::onClickTopAction);
        m_menu->addSeparator();
        add("Delete", &RtpInfoListWidget::onClickDeleteAction);
    } else {
        QAction* action = m_menu->addAction(RDLanguage::translate(QStringLiteral("Add")));
        connect(action, &QAction::triggered, this, &RtpInfoListWidget::onClickAddAction);
    }
    m_menu->move(m_list->mapToGlobal(pos));
    m_menu->show();
}

RtpInfoItemWidget* RtpInfoListWidget::actionRow(const QObject* action) const
{
    if (!action)
        return nullptr;
    bool ok = false;
    const int id = action->property(kIdProperty).toInt(&ok);
    if (!ok || id <= 0)
        return nullptr;
    for (int i = 0; i < m_list->count(); ++i) {
        RtpInfoItemWidget* row = itemWidget(i);
        if (row && row->rtpInfo().id == id)
            return row;
    }
    return nullptr;
}

void RtpInfoListWidget::onClickStartAction(bool)
{
    // The running state of now, not of when the menu opened.
    if (const RtpInfoItemWidget* row = actionRow(sender()))
        requestStartOrStop(row->rtpInfo());
}

void RtpInfoListWidget::onClickTopAction(bool)
{
    if (const RtpInfoItemWidget* row = actionRow(sender()))
        emit requestTopRtpInfo(row->rtpInfo());
}

void RtpInfoListWidget::onClickDeleteAction(bool)
{
    if (const RtpInfoItemWidget* row = actionRow(sender()))
        emit requestDeleteRtpInfo(row->rtpInfo());
}

void RtpInfoListWidget::onClickAddAction(bool)
{
    onClickAddButton();
}

void RtpInfoListWidget::onClickSaveButton()
{
    emit requestSaveRtpInfo(true, false, true);
}

void RtpInfoListWidget::onClickAddButton()
{
    emit requestAddRtpInfo();
}

void RtpInfoListWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    m_titleLabel->adjustSize();
    m_addButton->setGeometry(width() - 30, 5, kButtonSize, kButtonSize);
    m_saveButton->setGeometry(m_addButton->x() - 30, 5, kButtonSize, kButtonSize);
    m_titleLabel->setGeometry(10, 5, m_saveButton->x() - 10, kButtonSize);
    m_list->setGeometry(1, 35, width() - 2, height() - 40);
}
