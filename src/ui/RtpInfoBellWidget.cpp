#include "RtpInfoBellWidget.h"

#include "RDButton.h"
#include "RDDurationCache.h"
#include "RDFileDialog.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDLog.h"
#include "RDMessageBox.h"
#include "RDPixmapCache.h"
#include "RDQtUtils.h"
#include "RtpInfoBellPlayWidget.h"
#include "RtpInfoBellSelectWidget.h"
#include "Sonaris.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>

namespace {

constexpr int kPreviewButtonWidth = 20;
constexpr int kRowHeight = 25;
constexpr int kRowTop = 10;
constexpr int kRowGap = 10;
constexpr int kSmallEditWidth = 45;
// Room beside a combo's or button's text that its size hint leaves too tight.
constexpr int kTextRoom = 20;
constexpr const char* kBellFilter = "*.mp3;*.wav;*.flac";
const QColor kDisabledText(102, 102, 102);

} // namespace

RtpInfoBellWidget::RtpInfoBellWidget(QWidget* parent)
    : RDWidget(parent)
{
    createChildren();

    connect(m_previewButton, &RDWidget::clicked, this, &RtpInfoBellWidget::onClickPlayBellButton);
    connect(m_selectButton, &QPushButton::clicked, this, &RtpInfoBellWidget::onClickSelectBellButton);
    connect(m_repeatCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RtpInfoBellWidget::repeatIndexChanged);
    connect(m_fileEdit, &QLineEdit::editingFinished, this, &RtpInfoBellWidget::onBellEditFinished);
    connect(m_durationEdit, &QLineEdit::editingFinished, this,
            &RtpInfoBellWidget::onDurationEditFinished);
    connect(m_timesEdit, &QLineEdit::editingFinished, this, &RtpInfoBellWidget::onTimesEditFinished);
    connect(&m_player, &QMediaPlayer::stateChanged, this, &RtpInfoBellWidget::onPlayerStateChanged,
            Qt::DirectConnection);
    connect(m_table, &QTableWidget::doubleClicked, this, [this](const QModelIndex& index) {
        QTableWidgetItem* item = m_table->item(index.row(), kNameColumn);
        if (item)
            chooseBell(item->data(Qt::UserRole).toString());
    });
    connect(RDDurationCache::instance(), &RDDurationCache::durationReady, this,
            &RtpInfoBellWidget::onDurationReady);

    fillTable(bellFiles(soundsFolder()));
    localize();
    updateRepeatFields();
}

RtpInfoBellWidget::~RtpInfoBellWidget()
{
    // The stop reports a state change, and the editors losing the focus as they go report an
    // edit: neither may reach the tab being destroyed.
    m_player.disconnect(this);
    for (QLineEdit* edit : {m_fileEdit, m_durationEdit, m_timesEdit})
        edit->disconnect(this);
    if (m_player.state() == QMediaPlayer::PlayingState)
        m_player.stop();
}

void RtpInfoBellWidget::createChildren()
{
    m_previewButton = new RDButton(this);
    m_previewButton->setCheckedPixmaps(
        cachedPixmap(QStringLiteral(":/play_single.png"), kPreviewButtonWidth),
        cachedPixmap(QStringLiteral(":/pause_single.png"), kPreviewButtonWidth));
    m_titleLabel = new RDLabel(this);
    m_fileEdit = new QLineEdit(this);
    m_selectButton = new QPushButton(this);
    m_repeatLabel = new RDLabel(this);
    m_repeatCombo = new QComboBox(this);
    m_repeatCombo->addItem(QString(), int(kOnce));
    m_repeatCombo->addItem(QString(), int(kDuration));
    m_repeatCombo->addItem(QString(), int(kTimes));
    m_durationEdit = new QLineEdit(this);
    m_durationEdit->setValidator(new QIntValidator(0, kMaxDuration, m_durationEdit));
    m_secondsLabel = new RDLabel(this);
    m_timesEdit = new QLineEdit(this);
    m_timesEdit->setValidator(new QIntValidator(0, kMaxLoops, m_timesEdit));
    m_demoLabel = new RDLabel(this);
    m_demoLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table = new QTableWidget(this);
    // The rows are worked with the mouse; a focus frame on the clicked cell only clutters them.
    m_table->setFocusPolicy(Qt::NoFocus);
}

QString RtpInfoBellWidget::soundsFolder()
{
    return joinPath(Sonaris::applicationDir(), QStringLiteral("sounds"));
}

QStringList RtpInfoBellWidget::bellFiles(const QString& folder)
{
    const QDir dir(folder);
    QStringList paths;
    for (const QString& name :
         dir.entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name))
        paths.append(QStringLiteral("%1/%2").arg(folder, name));
    return paths;
}

void RtpInfoBellWidget::fillTable(const QStringList& bells)
{
    m_table->clear();
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setColumnCount(4);
    m_table->setHorizontalHeaderLabels({RDLanguage::translate(QStringLiteral("Play")),
                                        RDLanguage::translate(QStringLiteral("Name")),
                                        RDLanguage::translate(QStringLiteral("Duration")),
                                        RDLanguage::translate(QStringLiteral("Select"))});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->setVisible(false);
    m_table->setRowCount(bells.size());

    RDDurationCache* durations = RDDurationCache::instance();
    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    for (int row = 0; row < bells.size(); ++row) {
        const QString& path = bells[row];
        auto* play = new QTableWidgetItem;
        play->setFlags(flags);
        m_table->setItem(row, kPlayColumn, play);

        auto* name = new QTableWidgetItem(fileName(path));
        name->setFlags(flags);
        name->setTextAlignment(Qt::AlignCenter);
        name->setToolTip(path);
        name->setData(Qt::UserRole, path);
        m_table->setItem(row, kNameColumn, name);

        // The length comes from the worker when it is not known yet ("--:--" meanwhile).
        auto* length = new QTableWidgetItem(formatTime(durations->duration(path)));
        length->setFlags(flags);
        length->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(row, kDurationColumn, length);

        auto* select = new QTableWidgetItem;
        select->setFlags(flags);
        m_table->setItem(row, kSelectColumn, select);

        auto* playCell = new RtpInfoBellPlayWidget(path);
        connect(playCell, &RtpInfoBellPlayWidget::requestPlay, this, &RtpInfoBellWidget::preview);
        m_table->setCellWidget(row, kPlayColumn, playCell);
        auto* selectCell = new RtpInfoBellSelectWidget(path);
        connect(selectCell, &RtpInfoBellSelectWidget::requestSelect, this,
                &RtpInfoBellWidget::chooseBell);
        m_table->setCellWidget(row, kSelectColumn, selectCell);
    }
}

void RtpInfoBellWidget::onDurationReady(const QString& path, double seconds)
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QTableWidgetItem* name = m_table->item(row, kNameColumn);
        QTableWidgetItem* length = m_table->item(row, kDurationColumn);
        if (name && length && name->data(Qt::UserRole).toString() == path)
            length->setText(formatTime(seconds));
    }
}

void RtpInfoBellWidget::localize()
{
    m_titleLabel->setText(RDLanguage::translate(QStringLiteral("Bell Ringing")));
    m_selectButton->setText(RDLanguage::translate(QStringLiteral("Select")));
    m_repeatLabel->setText(RDLanguage::translate(QStringLiteral("Repeat Type")));
    m_demoLabel->setText(RDLanguage::translate(QStringLiteral("Demo Bell Ringing")));
    m_repeatCombo->setItemText(0, RDLanguage::translate(QStringLiteral("Once Only")));
    m_repeatCombo->setItemText(1, RDLanguage::translate(QStringLiteral("Duration")));
    m_repeatCombo->setItemText(2, RDLanguage::translate(QStringLiteral("Times")));
    m_secondsLabel->setText(RDLanguage::translate(QStringLiteral("Seconds")));
    // The natural sizes changed with the texts.
    layoutChildren();
}

void RtpInfoBellWidget::updateRepeatFields()
{
    const int row = m_repeatCombo->currentIndex();
    m_durationEdit->setVisible(row == kDuration);
    m_secondsLabel->setVisible(row == kDuration);
    m_timesEdit->setVisible(row == kTimes);
}

void RtpInfoBellWidget::setBell(const QString& path, int loopType, int duration, int loops)
{
    m_filling = true;
    m_fileEdit->setText(path);
    m_repeatCombo->setCurrentIndex(loopType == kDuration || loopType == kTimes ? loopType : kOnce);
    updateRepeatFields();
    m_durationEdit->setText(QString::number(duration));
    m_timesEdit->setText(QString::number(loops));
    m_filling = false;
}

QString RtpInfoBellWidget::bellPath() const
{
    return m_fileEdit->text();
}

int RtpInfoBellWidget::loopType() const
{
    return m_repeatCombo->currentData().toInt();
}

int RtpInfoBellWidget::duration() const
{
    // The validator lets a number of as many digits as the limit be typed.
    return qBound(0, m_durationEdit->text().toInt(), kMaxDuration);
}

int RtpInfoBellWidget::loops() const
{
    return qBound(0, m_timesEdit->text().toInt(), kMaxLoops);
}

void RtpInfoBellWidget::setEditable(bool editable)
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_previewButton, m_titleLabel, m_fileEdit, m_selectButton, m_repeatLabel,
             m_repeatCombo, m_durationEdit, m_secondsLabel, m_timesEdit, m_demoLabel, m_table})
        control->setEnabled(editable);
    // The labels paint their own colour: grey them with the controls beside them.
    for (RDLabel* label : {m_titleLabel, m_repeatLabel, m_secondsLabel, m_demoLabel})
        label->setTextColor(editable ? QColor(Qt::black) : kDisabledText);
}

bool RtpInfoBellWidget::isPreviewPlaying() const
{
    return m_player.state() == QMediaPlayer::PlayingState;
}

void RtpInfoBellWidget::reportChange()
{
    if (!m_filling)
        emit bellChanged();
}

void RtpInfoBellWidget::chooseBell(const QString& path)
{
    m_fileEdit->setText(path);
    reportChange();
}

void RtpInfoBellWidget::onClickPlayBellButton()
{
    const QString path = m_fileEdit->text();
    const bool usable = !path.isEmpty() && QFileInfo(path).isFile();
    if (usable) {
        preview(path);
        return;
    }
    // A click while anything plays stops it, even when the edit names no file to switch to.
    if (isPreviewPlaying()) {
        m_player.stop();
        return;
    }
    showInformationBox(RDLanguage::translate(QStringLiteral("Please select bell file")),
                       RDLanguage::translate(QStringLiteral("OK")),
                       RDLanguage::translate(QStringLiteral("Cancel")));
}

void RtpInfoBellWidget::onClickSelectBellButton(bool /*checked*/)
{
    const QStringList paths = selectFiles(QFileDialog::ExistingFile, QString::fromLatin1(kBellFilter));
    if (paths.isEmpty())
        return;
    chooseBell(paths.first());
}

void RtpInfoBellWidget::repeatIndexChanged(int /*index*/)
{
    updateRepeatFields();
    reportChange();
}

void RtpInfoBellWidget::onBellEditFinished()
{
    reportChange();
}

void RtpInfoBellWidget::onDurationEditFinished()
{
    reportChange();
}

void RtpInfoBellWidget::onTimesEditFinished()
{
    reportChange();
}

void RtpInfoBellWidget::preview(const QString& path)
{
    if (isPreviewPlaying()) {
        const bool same = path == m_previewedBell;
        m_player.stop();
        if (same)
            return;
    }
    m_previewedBell = path;
    // A file name is not a URL: "#" or "%" in it must stay part of the name.
    m_player.setMedia(QUrl::fromLocalFile(path));
    m_player.play();
    RDLOG("preview bell %s", path.toUtf8().constData());
    updatePlayingBell(path);
}

void RtpInfoBellWidget::updatePlayingBell(const QString& path)
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (auto* cell = qobject_cast<RtpInfoBellPlayWidget*>(m_table->cellWidget(row, kPlayColumn)))
            cell->setPlaying(!path.isEmpty() && cell->bell() == path);
    }
    m_previewButton->setChecked(!m_fileEdit->text().isEmpty() && m_fileEdit->text() == path);
}

void RtpInfoBellWidget::onPlayerStateChanged(QMediaPlayer::State state)
{
    if (state == QMediaPlayer::StoppedState || state == QMediaPlayer::PausedState)
        updatePlayingBell(QString());
}

void RtpInfoBellWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    layoutChildren();
}

void RtpInfoBellWidget::layoutChildren()
{
    const int w = width();
    const int h = height();

    // Row 1: preview, title, file, "Select" at the right edge.
    m_previewButton->setGeometry(5, kRowTop, kPreviewButtonWidth, kRowHeight);
    m_titleLabel->setGeometry(m_previewButton->geometry().right() + 5, kRowTop,
                              m_titleLabel->sizeHint().width(), kRowHeight);
    const int selectWidth = m_selectButton->sizeHint().width() + kTextRoom;
    m_selectButton->setGeometry(w - selectWidth - 5, kRowTop, selectWidth, kRowHeight);
    const int fileLeft = m_titleLabel->geometry().right() + 5;
    m_fileEdit->setGeometry(fileLeft, kRowTop, m_selectButton->x() - 5 - fileLeft, kRowHeight);

    // Row 2: the repeat type and the field it needs (duration and times share a place).
    const int repeatTop = m_titleLabel->geometry().bottom() + kRowGap;
    m_repeatLabel->setGeometry(10, repeatTop, m_repeatLabel->sizeHint().width(), kRowHeight);
    m_repeatCombo->setGeometry(m_repeatLabel->geometry().right() + 10, repeatTop,
                               m_repeatCombo->sizeHint().width() + kTextRoom, kRowHeight);
    const int fieldLeft = m_repeatCombo->geometry().right() + 10;
    m_durationEdit->setGeometry(fieldLeft, repeatTop, kSmallEditWidth, kRowHeight);
    m_secondsLabel->setGeometry(m_durationEdit->geometry().right() + 10, repeatTop,
                                m_secondsLabel->sizeHint().width(), kRowHeight);
    m_timesEdit->setGeometry(fieldLeft, repeatTop, kSmallEditWidth, kRowHeight);

    // Row 3 and the table below it.
    const int demoTop = m_repeatLabel->geometry().bottom() + kRowGap;
    m_demoLabel->setGeometry(10, demoTop, m_demoLabel->sizeHint().width(), kRowHeight);
    const int demoBottom = m_demoLabel->geometry().bottom();
    m_table->setGeometry(0, demoBottom + 5, w, h - demoBottom - 10);
}
