#include "RDCalendarView.h"

#include "RDButton.h"
#include "RDCalendarItemView.h"
#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDPixmapCache.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr int kArrowWidth = 9;
const QColor kBlue(25, 164, 255);
const QColor kOutline(228, 228, 228);

} // namespace

RDCalendarView::RDCalendarView(QWidget* parent)
    : QWidget(parent)
    , m_titleLabel(new RDLabel(this))
    , m_prevButton(new RDButton(this))
    , m_nextButton(new RDButton(this))
{
    // The cell pointer travels through queued connections.
    qRegisterMetaType<RDCalendarItemView*>("RDCalendarItemView*");

    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setTextColor(QColor(255, 255, 255, 255));
    m_prevButton->setPixmaps(cachedPixmap(QStringLiteral(":/calendar_prev.png"), kArrowWidth),
                             cachedPixmap(QStringLiteral(":/calendar_prev_pressed.png"), kArrowWidth));
    m_nextButton->setPixmaps(cachedPixmap(QStringLiteral(":/calendar_next.png"), kArrowWidth),
                             cachedPixmap(QStringLiteral(":/calendar_next_pressed.png"), kArrowWidth));
    connect(m_prevButton, &RDButton::clicked, this, &RDCalendarView::onClickPrevButton, Qt::QueuedConnection);
    connect(m_nextButton, &RDButton::clicked, this, &RDCalendarView::onClickNextButton, Qt::QueuedConnection);

    for (const char* name : kWeekdays) {
        RDLabel* label = new RDLabel(this);
        label->setText(RDLanguage::translate(QString::fromLatin1(name)));
        label->setAlignment(Qt::AlignCenter);
        label->setTextColor(QColor(0, 0, 0, 255));
        QFont font = label->font();
        font.setPixelSize(11);
        label->setFont(font);
        m_weekdayLabels.append(label);
    }
    for (int i = 0; i < kCells; ++i) {
        RDCalendarItemView* cell = new RDCalendarItemView(this);
        connect(cell, &RDCalendarItemView::clickView, this, &RDCalendarView::onClickItemView,
                Qt::QueuedConnection);
        m_cells.append(cell);
    }
    m_currentDate = QDate::currentDate();
    m_selectedDate = m_currentDate;
    updateView();
}

void RDCalendarView::setCurrentDate(const QDate& date)
{
    m_currentDate = date;
    updateView();
}

void RDCalendarView::setSelectedDate(const QDate& date)
{
    if (!date.isValid())
        return;
    m_selectedDate = date;
    m_currentDate = date;
    updateView();
}

void RDCalendarView::updateView()
{
    m_titleLabel->setText(m_currentDate.toString(QStringLiteral("yyyy-MM")));
    const QDate first(m_currentDate.year(), m_currentDate.month(), 1);
    const int h = first.dayOfWeek();   // Monday 1 ... Sunday 7: a Sunday start shows a whole week before
    const int n = first.daysInMonth();
    for (int i = 0; i < kCells; ++i) {
        RDCalendarItemView* cell = m_cells[i];
        cell->date = first.addDays(i - h);
        const bool inMonth = i >= h && i < h + n;
        cell->setEnabled(inMonth);
        cell->selected = cell->date == m_selectedDate;
        cell->update();
    }
}

void RDCalendarView::onClickItemView(RDCalendarItemView* view)
{
    m_selectedDate = view->date;
    updateView();
}

void RDCalendarView::onClickPrevButton()
{
    const QDate first(m_currentDate.year(), m_currentDate.month(), 1);
    m_currentDate = first.addMonths(-1);
    updateView();
}

void RDCalendarView::onClickNextButton()
{
    const QDate first(m_currentDate.year(), m_currentDate.month(), 1);
    m_currentDate = first.addMonths(1);
    updateView();
}

void RDCalendarView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    const int hh = m_headerHeight;
    m_prevButton->setGeometry(15, (hh - 15) / 2, 9, 15);
    m_nextButton->setGeometry(w - 24, (hh - 15) / 2, 9, 15);
    m_titleLabel->setGeometry(30, (hh - 20) / 2, w - 60, 20);
    const int cw = (w - 20) / 7;
    for (int i = 0; i < m_weekdayLabels.size(); ++i)
        m_weekdayLabels[i]->setGeometry(10 + i * cw, hh, cw, 20);
    const int rh = (h - hh - 20) / 6;
    for (int i = 0; i < kCells; ++i)
        m_cells[i]->setGeometry(10 + (i % 7) * cw, hh + 20 + (i / 7) * rh, cw, rh);
}

void RDCalendarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    const int hh = m_headerHeight;

    QPainterPath band;
    band.moveTo(10, 0);
    band.arcTo(0, 0, 20, 20, 90, 90);
    band.lineTo(0, hh);
    band.lineTo(w, hh);
    band.lineTo(w, 10);
    band.arcTo(w - 20, 0, 20, 20, 0, 90);
    band.lineTo(10, 0);
    painter.setPen(Qt::transparent);
    painter.setBrush(kBlue);
    painter.drawPath(band);
    painter.setPen(kOutline);
    painter.drawPath(band);

    QPainterPath body;
    body.moveTo(0, hh);
    body.lineTo(0, h - 10);
    body.arcTo(0, h - 20, 20, 20, 180, 90);
    body.lineTo(w - 10, h);
    body.arcTo(w - 20, h - 20, 20, 20, 270, 90);
    body.lineTo(w, hh);
    painter.setBrush(Qt::white);
    painter.setPen(kOutline);
    painter.drawPath(body);
}
