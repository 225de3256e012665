#include "RtpInfoScheduleDialog.h"

#include "RDCalendarView.h"
#include "RDLabel.h"
#include "RDLabelButton.h"
#include "RDLanguage.h"
#include "RDMonthlyView.h"
#include "RDPixmapCache.h"
#include "RDWeeklyView.h"
#include "RtpDialogButtons.h"
#include "RtpInfo.h"
#include "RtpScheduleItemsView.h"
#include "RtpScheduleItemWidget.h"
#include "RtpStopFirst.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimeEdit>

#include <algorithm>

namespace {

const QColor kGreen(53, 141, 0);
const QColor kDisabledFill(200, 200, 200);
constexpr int kIconWidth = 19;
constexpr int kLineHeight = 25;
constexpr int kListMaxWidth = 300;
constexpr int kWidth = 950;
constexpr int kHeight = 600;
const char* const kDateFormat = "yyyy-MM-dd";
const char* const kTimeFormat = "HH:mm:ss";

const struct
{
    const char* text;
    int repeat;
} kRepeats[] = {{"Once Only", RtpSchedule::RepeatOnce},
                {"Daily", RtpSchedule::RepeatDaily},
                {"Weekly", RtpSchedule::RepeatWeekly},
                {"Monthly", RtpSchedule::RepeatMonthly}};

// The stored forms the scheduler also reads, named the way the pickers name them: Sunday may be
// stored as 7 (the pickers count it 0), the last day of the month as 0 (the pickers say 31).
QString pickerDays(const QString& value, int alias, int number)
{
    QString text;
    for (const QString& part : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int day = part.toInt(&ok, 10);
        text += (ok && day == alias ? QString::number(number) : part) + QLatin1Char(';');
    }
    return text;
}

int sourceIndex(int sourceType)
{
    const int* begin = std::begin(RtpScheduleItemWidget::kSources);
    const int* end = std::end(RtpScheduleItemWidget::kSources);
    const int* found = std::find(begin, end, sourceType);
    return found == end ? 0 : static_cast<int>(found - begin);
}


} // namespace

RtpInfoScheduleDialog::RtpInfoScheduleDialog(QWidget* parent)
    : RDDialog(parent)
    , m_statusCheckBox(new QCheckBox(this))
    , m_statusLabel(new RDLabel(this))
    , m_repeatLabel(new RDLabel(this))
    , m_repeatList(new QComboBox(this))
    , m_calendarView(new RDCalendarView(this))
    , m_monthlyView(new RDMonthlyView(this))
    , m_weeklyView(new RDWeeklyView(this))
    , m_timeEdit(new QTimeEdit(this))
    , m_actionLabel(new RDLabel(this))
    , m_actionList(new QComboBox(this))
    , m_sourceLabel(new RDLabel(this))
    , m_sourceList(new QComboBox(this))
    , m_createButton(new RDLabelButton(this))
    , m_itemsView(new RtpScheduleItemsView(this))
    , m_saveButton(new QPushButton(this))
    , m_cancelButton(new QPushButton(this))
{
    setBackgroundColor(QColor(240, 240, 240));
    for (RDLabel* label : {m_statusLabel, m_repeatLabel, m_actionLabel, m_sourceLabel})
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_timeEdit->setDisplayFormat(QLatin1String(kTimeFormat));
    m_timeEdit->setTime(QTime(0, 0, 0));
    m_createButton->setPixmap(cachedPixmap(QStringLiteral(":/add_circle_white.png"), kIconWidth));
    m_createButton->setContentsMargins(15, 0, 15, 0);
    m_createButton->setTextColor(QColor(255, 255, 255));
    m_calendarView->setCurrentDate(QDate::currentDate());

    m_statusLabel->setText(RDLanguage::translate(QStringLiteral("Enable Schedule")));
    m_repeatLabel->setText(RDLanguage::translate(QStringLiteral("Repeat Type")));
    for (const auto& repeat : kRepeats)
        m_repeatList->addItem(RDLanguage::translate(QString::fromLatin1(repeat.text)), repeat.repeat);
    m_actionLabel->setText(RDLanguage::translate(QStringLiteral("Action")));
    RtpScheduleItemWidget::fillActionList(m_actionList);
    m_sourceLabel->setText(RDLanguage::translate(QStringLiteral("Source")));
    RtpScheduleItemWidget::fillSourceList(m_sourceList);
    m_createButton->setText(RDLanguage::translate(QStringLiteral("Create New Action")));
    m_saveButton->setText(RDLanguage::translate(QStringLiteral("Save")));
    m_cancelButton->setText(RDLanguage::translate(QStringLiteral("Cancel")));

    connect(m_statusCheckBox, &QCheckBox::toggled, this, &RtpInfoScheduleDialog::onStatusCheckBoxValueChanged);
    connect(m_repeatList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RtpInfoScheduleDialog::onRepeatComboBoxIndexChanged);
    connect(m_actionList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &RtpInfoScheduleDialog::onActionComboBoxIndexChanged);
    connect(m_createButton, &RDWidget::clicked, this, &RtpInfoScheduleDialog::onClickCreateActionLabel);
    connect(m_saveButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    onRepeatComboBoxIndexChanged(m_repeatList->currentIndex());
    onStatusCheckBoxValueChanged(false);

    const QScreen* screen = QGuiApplication::primaryScreen();
    const double scale = (screen ? screen->logicalDotsPerInch() : 96.0) / 96.0;
    // Larger fonts than the layout was drawn for would cut the bar and the rows short: the
    // dialog then opens as wide as they need.
    setMinimumWidth(placeControls(false));
    resize(std::max(minimumWidth(), static_cast<int>(kWidth * scale)), static_cast<int>(kHeight * scale));
}

QSize RtpInfoScheduleDialog::sizeHint() const
{
    return QSize(kWidth, 0);
}

void RtpInfoScheduleDialog::setSchedule(int sourceType, const RtpSchedule& schedule)
{
    m_sourceType = sourceType;
    m_schedule = schedule;
    m_statusCheckBox->setChecked(schedule.status != 0);
    onStatusCheckBoxValueChanged(m_statusCheckBox->isChecked());

    switch (schedule.repeat) {
    case RtpSchedule::RepeatOnce: {
        QDate date = QDate::fromString(schedule.value, QLatin1String(kDateFormat));
        if (!date.isValid())
            date = QDate::currentDate();
        m_calendarView->setSelectedDate(date);
        break;
    }
    case RtpSchedule::RepeatWeekly:
        m_weeklyView->setValue(pickerDays(schedule.value, 7, 0));
        break;
    case RtpSchedule::RepeatMonthly:
        m_monthlyView->setValue(pickerDays(schedule.value, 0, 31));
        break;
    default:
        break;
    }
    if (schedule.repeat >= RtpSchedule::RepeatOnce && schedule.repeat <= RtpSchedule::RepeatMonthly) {
        m_repeatList->setCurrentIndex(schedule.repeat);
        onRepeatComboBoxIndexChanged(schedule.repeat);
    } else {
        m_calendarView->hide();
        m_weeklyView->hide();
        m_monthlyView->hide();
    }

    m_sourceList->setCurrentIndex(sourceIndex(sourceType));
    m_itemsView->setItems(schedule.items);
    relayout();
}

void RtpInfoScheduleDialog::schedule(RtpSchedule& out) const
{
    out.status = m_statusCheckBox->isChecked() ? 1 : 0;
    out.repeat = m_repeatList->currentData().toInt();
    switch (out.repeat) {
    case RtpSchedule::RepeatOnce:
        out.value = m_calendarView->selectedDate().toString(QLatin1String(kDateFormat));
        break;
    case RtpSchedule::RepeatWeekly:
        out.value = m_weeklyView->value();
        break;
    case RtpSchedule::RepeatMonthly:
        out.value = m_monthlyView->value();
        break;
    default:
        out.value.clear();
        break;
    }
    out.items = m_itemsView->items();
}

bool RtpInfoScheduleDialog::editRecord(RtpInfo& record)
{
    if (refuseWhileRunning(record.startedSource))
        return false;
    RtpInfoScheduleDialog dialog;
    dialog.setSchedule(record.source, record.schedule);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.schedule(record.schedule);
    return true;
}

void RtpInfoScheduleDialog::onStatusCheckBoxValueChanged(bool checked)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{
             m_statusLabel, m_repeatLabel, m_repeatList, m_timeEdit, m_calendarView, m_actionLabel, m_actionList,
             m_sourceLabel, m_sourceList, m_createButton, m_itemsView})
        widget->setEnabled(checked);
    // Their own setEnabled: it also recolours their border.
    m_monthlyView->setEnabled(checked);
    m_weeklyView->setEnabled(checked);
    // The greyed text of a disabled button would not read on green.
    const QColor fill = checked ? kGreen : kDisabledFill;
    m_createButton->setBorder(3, 2, fill);
    m_createButton->setBackgroundColor(fill);
}

void RtpInfoScheduleDialog::onRepeatComboBoxIndexChanged(int index)
{
    m_calendarView->setVisible(index == RtpSchedule::RepeatOnce);
    m_weeklyView->setVisible(index == RtpSchedule::RepeatWeekly);
    m_monthlyView->setVisible(index == RtpSchedule::RepeatMonthly);
    relayout();
}

void RtpInfoScheduleDialog::onActionComboBoxIndexChanged(int index)
{
    // A stop action has no source to choose.
    const bool start = m_actionList->itemData(index).toInt() == RtpScheduleItem::TypeStart;
    m_sourceLabel->setVisible(start);
    m_sourceList->setVisible(start);
    relayout();
}

void RtpInfoScheduleDialog::onClickCreateActionLabel()
{
    RtpScheduleItem item;
    item.type = m_actionList->currentData().toInt();
    item.startTime = m_timeEdit->time().toString(QLatin1String(kTimeFormat));
    item.duration = 1;
    item.durationUnit = RtpScheduleItem::UnitHours;
    item.source = m_sourceList->currentData().toInt();
    m_itemsView->addItem(item);
}

void RtpInfoScheduleDialog::onClickAddButton()
{
    onClickCreateActionLabel();
}

void RtpInfoScheduleDialog::resizeEvent(QResizeEvent* event)
{
    RDDialog::resizeEvent(event);
    relayout();
}

void RtpInfoScheduleDialog::relayout()
{
    placeControls(true);
}

int RtpInfoScheduleDialog::placeControls(bool apply)
{
    const int w = width();
    const int h = height();
    const QMargins m = borderMargins();
    const int top = m.top() + 10;
    const int left = m.left();
    auto set = [apply](QWidget* widget, const QRect& rect) {
        if (apply)
            widget->setGeometry(rect);
    };

    // The left column: the switch, the repeat choice and the picker that goes with it.
    set(m_statusCheckBox, QRect(left + 14, top, 25, kLineHeight));
    const int statusWidth = m_statusLabel->sizeHint().width();
    set(m_statusLabel, QRect(left + 40, top, statusWidth, kLineHeight));
    const int repeatLabelX = left + 40 + statusWidth + 10;
    const int repeatLabelWidth = m_repeatLabel->sizeHint().width();
    set(m_repeatLabel, QRect(repeatLabelX, top, repeatLabelWidth, kLineHeight));
    const int repeatListX = repeatLabelX + repeatLabelWidth + 5;
    const int repeatListWidth = m_repeatList->sizeHint().width();
    set(m_repeatList, QRect(repeatListX, top, repeatListWidth, kLineHeight));
    const int pickerY = top + kLineHeight + 5;
    set(m_calendarView, QRect(left + 10, pickerY, 240, 240));
    set(m_monthlyView, QRect(left + 10, pickerY, 240, 240));
    set(m_weeklyView, QRect(left + 10, pickerY, 240, 40));

    // The right part: the creation bar above the rows.
    const int g = std::max(repeatListX + repeatListWidth, left + 260);
    int x = g + 10;
    auto place = [&x, top, &set](QWidget* widget, int gap, int width) {
        x += gap;
        set(widget, QRect(x, top, width, kLineHeight));
        x += width;
    };
    place(m_timeEdit, 0, m_timeEdit->sizeHint().width());
    place(m_actionLabel, 10, m_actionLabel->sizeHint().width());
    place(m_actionList, 5, std::min(kListMaxWidth, m_actionList->sizeHint().width()));
    if (m_sourceLabel->isVisibleTo(this)) {
        place(m_sourceLabel, 15, m_sourceLabel->sizeHint().width());
        place(m_sourceList, 5, std::min(kListMaxWidth, m_sourceList->sizeHint().width()));
    }
    place(m_createButton, 5, m_createButton->sizeHint().width());

    const int rowsY = top + kLineHeight + 10;
    set(m_itemsView, QRect(g + 10, rowsY, w - 10 - m.right() - (g + 10), h - 60 - rowsY));

    if (apply) {
        placeDialogButtons(m_saveButton, m_cancelButton, w, h - 50);
        return 0;
    }
    // The narrowest width that shows the whole bar and a whole row beside a scroll bar.
    const RtpScheduleItemWidget probe;
    const int rowsWidth = probe.sizeHint().width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return std::max(x, g + 10 + rowsWidth) + 10 + m.right();
}
