#include "ZvLogDialog.h"

#include "RDTr.h"
#include "ZvLogsView.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
constexpr int kRowTop = 10;
constexpr int kRowHeight = 30;
constexpr int kMinControlWidth = 100;

} // namespace

ZvLogDialog::ZvLogDialog(QWidget* parent)
    : QDialog(parent)
    , m_addressLabel(new QLabel(this))
    , m_addressChoice(new QComboBox(this))
    , m_startLabel(new QLabel(this))
    , m_startEdit(new QDateEdit(this))
    , m_endLabel(new QLabel(this))
    , m_endEdit(new QDateEdit(this))
    , m_searchButton(new QPushButton(this))
    , m_view(new ZvLogsView(this))
{
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    for (QDateEdit* edit : {m_startEdit, m_endEdit}) {
        edit->setDisplayFormat(kDateFormat);
        edit->setCalendarPopup(true);
    }
    const QDate today = QDate::currentDate();
    m_startEdit->setDate(today.addDays(-365));
    m_endEdit->setDate(today);
    m_addressLabel->setText(rdTr("Multicast IP"));
    m_startLabel->setText(rdTr("Start Date"));
    m_endLabel->setText(rdTr("End Date"));
    m_searchButton->setText(rdTr("Search"));
    connect(m_searchButton, &QPushButton::clicked, this, &ZvLogDialog::onClickSearch);
    setRtpInfos(QVector<RtpInfo>());
    m_view->reload();

    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        setMinimumSize(800, 600);
    } else {
        const QRect available = screen->availableGeometry();
        setMinimumSize(available.width() / 2, available.height() / 2);
        resize(available.width() * 8 / 10, available.height() * 8 / 10);
    }
}

void ZvLogDialog::setRtpInfos(const QVector<RtpInfo>& infos)
{
    m_infos = infos;
    m_addressChoice->clear();
    m_addressChoice->addItem(rdTr("All"), QString());
    for (const RtpInfo& info : m_infos)
        m_addressChoice->addItem(info.address, info.address);
    relayout();
}

void ZvLogDialog::rangeTexts(QDate start, QDate end, QString& startText, QString& endText)
{
    if (start.isValid() && end.isValid() && end < start)
        std::swap(start, end);
    startText = start.isValid() ? QDateTime(start, QTime(0, 0, 0)).toString(kDateTimeFormat) : QString();
    endText = end.isValid() ? QDateTime(end, QTime(23, 59, 59)).toString(kDateTimeFormat) : QString();
}

void ZvLogDialog::onClickSearch(bool)
{
    const QString address = m_addressChoice->currentData().toString();
    QString start;
    QString end;
    rangeTexts(m_startEdit->date(), m_endEdit->date(), start, end);
    m_view->setFilter(address, start, end);
    m_view->reload();
}

void ZvLogDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    relayout();
}

void ZvLogDialog::relayout()
{
    QWidget* const row[] = {m_addressLabel, m_addressChoice, m_startLabel, m_startEdit,
                            m_endLabel,     m_endEdit,       m_searchButton};
    // After a label the control follows 10 px on; after a control the next label 30 px on.
    int x = 10;
    for (int i = 0; i < 7; ++i) {
        QWidget* widget = row[i];
        if (widget != m_addressLabel && widget != m_startLabel && widget != m_endLabel)
            widget->setMinimumWidth(kMinControlWidth);
        const int w = std::max(widget->minimumWidth(), widget->sizeHint().width());
        widget->setGeometry(x, kRowTop, w, kRowHeight);
        x += w + (i % 2 == 0 ? 10 : 30);
    }
    // The filter row is never cut off on the right, also on a small screen.
    const int rowWidth = m_searchButton->geometry().right() + 1 + 10;
    if (minimumWidth() < rowWidth)
        setMinimumWidth(rowWidth);
    m_view->setGeometry(0, 50, width(), std::max(0, height() - 50));
}
