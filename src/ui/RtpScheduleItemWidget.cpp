#include "RtpScheduleItemWidget.h"

#include "RDButton.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDPixmapCache.h"
#include "RDVolumeValidator.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTimeEdit>

#include <algorithm>

namespace {

constexpr int kIconWidth = 19;
constexpr int kControlHeight = 25;
constexpr int kRowHeight = 40;
// A duration is at most a day's worth of its unit.
constexpr int kMaxDuration = 86400;
const char* const kTimeFormat = "HH:mm:ss";

struct Choice
{
    const char* text;
    int data;
};

const Choice kActions[] = {{"Start RTP", RtpScheduleItem::TypeStart}, {"Stop RTP", RtpScheduleItem::TypeStop}};
const Choice kSourceChoices[] = {{"Audio Medias", 1}, {"Audio Source", 6}, {"Live Radio", 16}, {"Bell Ringing", 32}};
const char* const kSourcePixmaps[] = {":/media_gray.png", ":/microphone_gray.png", ":/stream_gray.png",
                                      ":/alarm_gray.png"};
const Choice kUnits[] = {{"Hours", RtpScheduleItem::UnitHours},
                         {"Minutes", RtpScheduleItem::UnitMinutes},
                         {"Seconds", RtpScheduleItem::UnitSeconds},
                         {"No Limit", RtpScheduleItem::UnitNone}};

template <size_t N>
void fill(QComboBox* list, const Choice (&choices)[N])
{
    list->clear();
    for (const Choice& choice : choices)
        list->addItem(RDLanguage::translate(QString::fromLatin1(choice.text)), choice.data);
}

template <size_t N>
int indexOfData(const Choice (&choices)[N], int data)
{
    for (size_t i = 0; i < N; ++i) {
        if (choices[i].data == data)
            return static_cast<int>(i);
    }
    return -1;
}

// The sizes the row shows its controls at: their natural width, 25 high.
QSize natural(const QWidget* widget)
{
    return QSize(widget->sizeHint().width(), kControlHeight);
}

} // namespace

constexpr int RtpScheduleItemWidget::kSources[];

RtpScheduleItemWidget::RtpScheduleItemWidget(QWidget* parent)
    : RDWidget(parent)
    , m_deleteButton(new RDButton(this))
    , m_startTimeLabel(new RDLabel(this))
    , m_startTimeEdit(new QTimeEdit(this))
    , m_durationLabel(new RDLabel(this))
    , m_durationEdit(new QLineEdit(this))
    , m_unitList(new QComboBox(this))
    , m_actionButton(new RDButton(this))
    , m_actionList(new QComboBox(this))
    , m_sourceButton(new RDButton(this))
    , m_sourceList(new QComboBox(this))
{
    m_deleteButton->setPixmap(cachedPixmap(QStringLiteral(":/trash_black.png"), kIconWidth));
    m_deleteButton->setCursor(Qt::PointingHandCursor);
    m_startTimeLabel->setText(RDLanguage::translate(QStringLiteral("Start Time")));
    m_startTimeLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_startTimeEdit->setDisplayFormat(QLatin1String(kTimeFormat));
    m_durationLabel->setText(RDLanguage::translate(QStringLiteral("Duration")));
    m_durationLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_durationEdit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* validator = new RDVolumeValidator(m_durationEdit);
    validator->setRange(0, kMaxDuration);
    m_durationEdit->setValidator(validator);
    fill(m_unitList, kUnits);
    fillActionList(m_actionList);
    fillSourceList(m_sourceList);
    m_actionButton->setCursor(Qt::PointingHandCursor);
    m_sourceButton->setCursor(Qt::PointingHandCursor);

    connect(m_deleteButton, &RDWidget::clicked, this, &RtpScheduleItemWidget::onClickDeleteButton);
    connect(m_startTimeEdit, &QTimeEdit::timeChanged, this, &RtpScheduleItemWidget::onStartTimeChanged);
    connect(m_durationEdit, &QLineEdit::editingFinished, this, &RtpScheduleItemWidget::onDurationEditFinished);
    connect(m_unitList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RtpScheduleItemWidget::onDurationIndexChanged);
    connect(m_actionButton, &RDWidget::clicked, this, &RtpScheduleItemWidget::onClickActionIconButton);
    connect(m_actionList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RtpScheduleItemWidget::onActionComboBoxIndexChanged);
    connect(m_sourceButton, &RDWidget::clicked, this, &RtpScheduleItemWidget::onClickSourceIconButton);
    connect(m_sourceList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RtpScheduleItemWidget::onSourceComboBoxIndexChanged);

    setAction(RtpScheduleItem::TypeStart);
    setSource(1);
}

void RtpScheduleItemWidget::fillSourceList(QComboBox* list)
{
    fill(list, kSourceChoices);
}

void RtpScheduleItemWidget::fillActionList(QComboBox* list)
{
    fill(list, kActions);
}

QString RtpScheduleItemWidget::sourcePixmapPath(int source)
{
    const int index = indexOfData(kSourceChoices, source);
    return QString::fromLatin1(kSourcePixmaps[index < 0 ? 0 : index]);
}

void RtpScheduleItemWidget::setValue(const RtpScheduleItem& item)
{
    m_updating = true;
    m_item = item;
    m_startTimeEdit->setTime(QTime::fromString(item.startTime, QLatin1String(kTimeFormat)));
    m_durationEdit->setText(QString::number(item.duration));
    const int unit = indexOfData(kUnits, item.durationUnit);
    m_unitList->setCurrentIndex(unit < 0 ? 0 : unit);
    setAction(item.type);
    setSource(item.source);
    updateDurationEnabled();
    m_updating = false;
}

RtpScheduleItem RtpScheduleItemWidget::value() const
{
    RtpScheduleItem item = m_item;
    item.type = m_type;
    item.source = m_source;
    item.startTime = m_startTimeEdit->time().toString(QLatin1String(kTimeFormat));
    bool ok = false;
    const int duration = m_durationEdit->text().toInt(&ok, 10);
    item.duration = ok ? duration : 0;
    item.durationUnit = m_unitList->currentData().toInt();
    return item;
}

void RtpScheduleItemWidget::setAction(int type)
{
    if (type != RtpScheduleItem::TypeStart && type != RtpScheduleItem::TypeStop)
        return;
    m_type = type;
    const bool start = type == RtpScheduleItem::TypeStart;
    m_actionButton->setPixmap(
        cachedPixmap(start ? QStringLiteral(":/play_style.png") : QStringLiteral(":/pause_style.png"), kIconWidth));
    m_actionList->setCurrentIndex(start ? 0 : 1);
    m_durationLabel->setEnabled(start);
    m_unitList->setEnabled(start);
    m_sourceButton->setEnabled(start);
    m_sourceList->setEnabled(start);
    updateDurationEnabled();
}

void RtpScheduleItemWidget::setSource(int source)
{
    int index = indexOfData(kSourceChoices, source);
    if (index < 0)
        index = 0;
    m_source = kSourceChoices[index].data;
    m_sourceList->setCurrentIndex(index);
    m_sourceButton->setPixmap(cachedPixmap(sourcePixmapPath(m_source), kIconWidth));
}

void RtpScheduleItemWidget::updateDurationEnabled()
{
    m_durationEdit->setEnabled(m_type == RtpScheduleItem::TypeStart &&
                               m_unitList->currentData().toInt() != RtpScheduleItem::UnitNone);
}

void RtpScheduleItemWidget::onActionComboBoxIndexChanged(int index)
{
    if (index == 0)
        setAction(RtpScheduleItem::TypeStart);
    else if (index == 1)
        setAction(RtpScheduleItem::TypeStop);
}

void RtpScheduleItemWidget::onSourceComboBoxIndexChanged(int index)
{
    if (index >= 0 && index < static_cast<int>(std::size(kSourceChoices)))
        setSource(kSourceChoices[index].data);
}

void RtpScheduleItemWidget::onDurationIndexChanged(int index)
{
    Q_UNUSED(index);
    updateDurationEnabled();
}

void RtpScheduleItemWidget::onClickDeleteButton()
{
    if (!m_updating)
        emit requestDeleteItemWidget(this);
}

void RtpScheduleItemWidget::onClickActionIconButton()
{
    setAction(m_type == RtpScheduleItem::TypeStart ? RtpScheduleItem::TypeStop : RtpScheduleItem::TypeStart);
}

void RtpScheduleItemWidget::onClickSourceIconButton()
{
    const int index = indexOfData(kSourceChoices, m_source);
    setSource(kSourceChoices[(index + 1) % std::size(kSourceChoices)].data);
}

void RtpScheduleItemWidget::onStartTimeChanged(QTime time)
{
    Q_UNUSED(time);
}

void RtpScheduleItemWidget::onDurationEditFinished()
{
}

void RtpScheduleItemWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    relayout();
}

void RtpScheduleItemWidget::relayout()
{
    placeControls(true);
}

QSize RtpScheduleItemWidget::sizeHint() const
{
    return QSize(const_cast<RtpScheduleItemWidget*>(this)->placeControls(false), kRowHeight);
}

int RtpScheduleItemWidget::placeControls(bool apply)
{
    const int h = height();
    const int y = (h - kControlHeight) / 2;
    if (apply)
        m_deleteButton->setGeometry(5, (h - 20) / 2, 20, 20);
    int x = 5 + 20;
    // Each control follows the one before it at the given gap.
    auto place = [&x, y, apply](QWidget* widget, int gap, QSize size) {
        x += gap;
        if (apply)
            widget->setGeometry(x, y + (kControlHeight - size.height()) / 2, size.width(), size.height());
        x += size.width();
    };
    place(m_startTimeLabel, 5, natural(m_startTimeLabel));
    place(m_startTimeEdit, 5, natural(m_startTimeEdit));
    place(m_durationLabel, 10, natural(m_durationLabel));
    place(m_durationEdit, 5, QSize(60, kControlHeight));
    place(m_unitList, 5, QSize(std::max(60, m_unitList->sizeHint().width()), kControlHeight));
    place(m_actionButton, 5, QSize(25, 25));
    place(m_actionList, 5, natural(m_actionList));
    place(m_sourceButton, 5, QSize(25, 25));
    place(m_sourceList, 5, natural(m_sourceList));
    return x + 5;
}
