#include "RtpInfoPlaylistWidget.h"

#include "FileReveal.h"
#include "PlaylistItemWidget.h"
#include "RDButton.h"
#include "RDDurationCache.h"
#include "RDFileDialog.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDPixmapCache.h"
#include "RDQtUtils.h"
#include "RDSlider.h"
#include "RDThread.h"
#include "RtpStopFirst.h"

#include <QListWidget>
#include <QMenu>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kRowHeight = 30;
constexpr int kTimerMs = 1000;
const char* const kAudioFilter = "*.mp3;*.wav;*.flac";
// What an action of the context menu was made for.
const char* const kRowProperty = "playlistRow";
const char* const kPathProperty = "playlistPath";
const char* const kGenerationProperty = "playlistGeneration";

int percentOf(double position, double duration)
{
    return duration > 0.0 ? static_cast<int>(std::trunc(position * 100.0 / duration)) : 0;
}

} // namespace

RtpInfoPlaylistWidget::RtpInfoPlaylistWidget(QWidget* parent)
    : RDWidget(parent)
    , m_header(new PlaylistItemWidget(this))
    , m_list(new QListWidget(this))
    , m_positionLabel(new RDLabel(this))
    , m_slider(new RDSlider(this))
{
    setBackgroundColor(QColor(255, 255, 255));
    m_header->setBackgroundColor(QColor(240, 240, 240));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_positionLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_slider->setRange(0, 100);
    m_slider->setTrackColor(QColor(0, 0, 0));
    retranslate();

    connect(m_slider, &RDSlider::valueChanged, this, &RtpInfoPlaylistWidget::onSliderValueChanged);
    connect(&m_timer, &QTimer::timeout, this, &RtpInfoPlaylistWidget::invokePlaying);
    connect(m_list, &QListWidget::itemClicked, this, &RtpInfoPlaylistWidget::onClickItem);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &RtpInfoPlaylistWidget::onDoubleClickItem);
    connect(m_list, &QWidget::customContextMenuRequested, this, &RtpInfoPlaylistWidget::onListWidgetCustomMenu);
    connect(RDDurationCache::instance(), &RDDurationCache::durationReady, this,
            &RtpInfoPlaylistWidget::onDurationReady);

    m_positionLabel->hide();
    m_slider->hide();
    appendAddRow();
}

RtpInfoPlaylistWidget::~RtpInfoPlaylistWidget()
{
    closeMenu();
}

QString RtpInfoPlaylistWidget::formatTime(double seconds)
{
    return ::formatTime(seconds);
}

void RtpInfoPlaylistWidget::retranslate()
{
    m_header->setTexts(RDLanguage::translate(QStringLiteral("File Name")),
                       RDLanguage::translate(QStringLiteral("Duration")));
}

void RtpInfoPlaylistWidget::setRunning(int running)
{
    m_running = running;
}

QListWidgetItem* RtpInfoPlaylistWidget::appendFileRow(int row, const QString& path)
{
    auto* item = new QListWidgetItem;
    item->setSizeHint(QSize(0, kRowHeight));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled | Qt::ItemIsEnabled);
    auto* widget = new PlaylistItemWidget;
    widget->setPath(path);
    m_list->insertItem(row, item);
    m_list->setItemWidget(item, widget);
    return item;
}

void RtpInfoPlaylistWidget::appendAddRow()
{
    auto* item = new QListWidgetItem;
    item->setSizeHint(QSize(0, kRowHeight));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    auto* button = new RDButton;
    button->setPixmap(cachedPixmap(QStringLiteral(":/add.png"), 20));
    // The click belongs to the list row (onClickItem), not to the button on it.
    button->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_list->addItem(item);
    m_list->setItemWidget(item, button);
}

void RtpInfoPlaylistWidget::setPlaylist(const QVector<QString>& paths, int playingIndex, double playingPosition,
                                        double playingDuration, double getTime)
{
    // A menu opened on the old rows must not act on the new ones.
    closeMenu();
    ++m_generation;
    // The channel's refreshes give the same list again and again: the rows that are there are
    // reused and only the difference is made or removed. New rows are made with the view hidden,
    // as a shown view lays itself out again for every row added.
    const int count = paths.size();
    const bool visible = m_list->isVisibleTo(this);
    const bool bulk = std::abs(count - fileRowCount()) > 1;
    if (bulk)
        m_list->setVisible(false);
    while (fileRowCount() > count)
        removeFileRow(fileRowCount() - 1);
    for (int i = 0; i < count; ++i) {
        if (i < fileRowCount())
            rowWidget(i)->setPath(paths[i]);
        else
            appendFileRow(i, paths[i]);
        rowWidget(i)->setPlaying(playingIndex >= 0 && playingIndex == i);
    }
    if (bulk)
        m_list->setVisible(visible);
    m_list->doItemsLayout();

    m_playingIndex = playingIndex;
    m_playingPosition = playingPosition;
    m_playingDuration = playingDuration;
    m_getTime = getTime;
    showPosition(playingPosition);
    if (playingIndex == -1) {
        m_timer.stop();
        m_positionLabel->hide();
        m_slider->hide();
    } else {
        m_timer.start(kTimerMs);
        m_positionLabel->show();
        m_slider->show();
    }
    relayout();
}

QVector<QString> RtpInfoPlaylistWidget::playlist() const
{
    QVector<QString> paths;
    const int count = fileRowCount();
    paths.reserve(count);
    for (int row = 0; row < count; ++row)
        paths.append(rowWidget(row)->path());
    return paths;
}

PlaylistItemWidget* RtpInfoPlaylistWidget::rowWidget(int row) const
{
    QListWidgetItem* item = m_list->item(row);
    return item ? qobject_cast<PlaylistItemWidget*>(m_list->itemWidget(item)) : nullptr;
}

int RtpInfoPlaylistWidget::fileRowCount() const
{
    // Every row but the last, which adds files.
    return std::max(0, m_list->count() - 1);
}

void RtpInfoPlaylistWidget::showPosition(double position)
{
    m_positionLabel->setText(
        QStringLiteral("%1/%2").arg(formatTime(position), formatTime(m_playingDuration)));
    m_slider->setValue(percentOf(position, m_playingDuration));
    relayout();
}

void RtpInfoPlaylistWidget::invokePlaying()
{
    if (m_slider->isPressed())
        return;
    const double position = std::min(m_playingDuration, RDThread::tickTime() - m_getTime + m_playingPosition);
    showPosition(position);
}

void RtpInfoPlaylistWidget::onSliderValueChanged(int value)
{
    m_positionLabel->setText(QStringLiteral("%1/%2").arg(formatTime(m_playingDuration * value / 100.0),
                                                         formatTime(m_playingDuration)));
    relayout();
    // While the thumb is dragged only the label follows; the seek goes out on the release.
    if (!m_slider->isPressed())
        emit requestSeekFile(m_playingIndex, value / 100.0);
}

void RtpInfoPlaylistWidget::onClickItem(QListWidgetItem* item)
{
    if (item && m_list->row(item) == m_list->count() - 1)
        onClickAddAction(false);
}

void RtpInfoPlaylistWidget::onDoubleClickItem(QListWidgetItem* item)
{
    if (!item || !qobject_cast<PlaylistItemWidget*>(m_list->itemWidget(item)))
        return;
    emit requestChangeFile(m_list->row(item));
}

void RtpInfoPlaylistWidget::onListWidgetCustomMenu(QPoint pos)
{
    if (m_running != 0)
        return;
    showContextMenu(pos);
}

void RtpInfoPlaylistWidget::closeMenu()
{
    if (m_menu) {
        m_menu->hide();
        m_menu->deleteLater();
    }
    m_menu = nullptr;
    m_menuRow = -1;
}

void RtpInfoPlaylistWidget::showContextMenu(const QPoint& pos)
{
    closeMenu();
    m_menu = new QMenu(this);
    QListWidgetItem* item = m_list->itemAt(pos);
    const int row = item ? m_list->row(item) : -1;
    if (row < 0 || row >= fileRowCount()) {
        m_menuRow = -1;
    } else {
        m_menuRow = row;
        const QString path = rowWidget(row)->path();
        auto add = [this, row, &path](const char* text, void (RtpInfoPlaylistWidget::*slot)(bool)) {
            QAction* action = m_menu->addAction(RDLanguage::translate(QString::fromLatin1(text)));
            action->setProperty(kRowProperty, row);
            action->setProperty(kPathProperty, path);
            action->setProperty(kGenerationProperty, m_generation);
            connect(action, &QAction::triggered, this, slot);
            m_menu->addSeparator();
        };
        add("Open In Explorer", &RtpInfoPlaylistWidget::onClickOpenAction);
        add("Top", &RtpInfoPlaylistWidget::onClickTopAction);
        add("Delete", &RtpInfoPlaylistWidget::onClickDeleteAction);
    }
    QAction* addAction = m_menu->addAction(RDLanguage::translate(QStringLiteral("Add")));
    connect(addAction, &QAction::triggered, this, &RtpInfoPlaylistWidget::onClickAddAction);
    m_menu->move(m_list->viewport()->mapToGlobal(pos));
    m_menu->show();
}

int RtpInfoPlaylistWidget::actionRow(const QObject* action) const
{
    if (!action || action->property(kGenerationProperty).toULongLong() != m_generation)
        return -1;
    bool ok = false;
    const int row = action->property(kRowProperty).toInt(&ok);
    if (!ok || row < 0 || row >= fileRowCount() || rowWidget(row)->path() != action->property(kPathProperty).toString())
        return -1;
    return row;
}

void RtpInfoPlaylistWidget::onClickAddAction(bool checked)
{
    Q_UNUSED(checked);
    if (refuseWhileRunning(m_running))
        return;
    const QStringList selected = selectFiles(QFileDialog::ExistingFiles, QLatin1String(kAudioFilter));
    if (selected.isEmpty())
        return;
    QVector<QString> paths = playlist();
    for (const QString& path : selected)
        paths.append(path);
    setPlaylist(paths, m_playingIndex, m_playingPosition, m_playingDuration, m_getTime);
    emit playlistChanged();
}

void RtpInfoPlaylistWidget::onClickTopAction(bool checked)
{
    Q_UNUSED(checked);
    const int row = actionRow(sender());
    if (row < 0)
        return;
    const QString path = rowWidget(row)->path();
    removeFileRow(row);
    appendFileRow(0, path);
    ++m_generation;
    m_list->doItemsLayout();
    emit playlistChanged();
}

void RtpInfoPlaylistWidget::onClickDeleteAction(bool checked)
{
    Q_UNUSED(checked);
    const int row = actionRow(sender());
    if (row < 0)
        return;
    removeFileRow(row);
    ++m_generation;
    m_list->doItemsLayout();
    emit playlistChanged();
}

void RtpInfoPlaylistWidget::removeFileRow(int row)
{
    // The row's widget is released later; until then it must not show over the rows that move
    // up into its place.
    rowWidget(row)->hide();
    delete m_list->takeItem(row);
}

void RtpInfoPlaylistWidget::onClickOpenAction(bool checked)
{
    Q_UNUSED(checked);
    const int row = actionRow(sender());
    if (row < 0)
        return;
    FileReveal::reveal(rowWidget(row)->path());
}

void RtpInfoPlaylistWidget::onDurationReady(const QString& path, double seconds)
{
    const int count = fileRowCount();
    for (int row = 0; row < count; ++row) {
        PlaylistItemWidget* widget = rowWidget(row);
        if (widget->path() == path && !widget->isMissing())
            widget->setDuration(seconds);
    }
}

void RtpInfoPlaylistWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void RtpInfoPlaylistWidget::relayout()
{
    const int w = width();
    const int h = height();
    m_header->setGeometry(0, 0, w, kRowHeight);
    m_list->setGeometry(0, kRowHeight, w, h - 70);
    const int labelWidth = std::max(60, m_positionLabel->sizeHint().width());
    m_positionLabel->setGeometry(10, h - 30, labelWidth, 20);
    const int labelRight = m_positionLabel->geometry().right();
    m_slider->setGeometry(labelRight + 10, h - 30, w - labelRight - 40, 20);
}
