#include "RDPagingInfoView.h"

#include "RDLabel.h"
#include "RDLanguage.h"
#include "RDLog.h"

#include <QLineEdit>

#include <algorithm>

namespace {

constexpr int kHeight = 30;
constexpr int kEditWidth = 30;
constexpr int kGap = 5;

} // namespace

RDPagingInfoView::RDPagingInfoView(QWidget* parent)
    : RDWidget(parent)
    , m_pageInfoLabel(new RDLabel(this))
    , m_gotoLabel(new RDLabel(this))
    , m_pageEdit(new QLineEdit(this))
    , m_pageLabel(new RDLabel(this))
    , m_goButton(new RDLabel(this))
{
    m_pageEdit->setAlignment(Qt::AlignCenter);
    const QColor blue(100, 149, 237, 255);
    m_goButton->setTextColor(blue);
    m_goButton->setBorder(0, 1, blue);
    m_goButton->setMargins(10, 0, 10, 0);
    m_goButton->setCursor(Qt::PointingHandCursor);
    for (RDLabel* label : {m_pageInfoLabel, m_gotoLabel, m_pageLabel, m_goButton}) {
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumHeight(kHeight);
        label->setVisible(true);
    }
    connect(m_goButton, &RDLabel::clicked, this, &RDPagingInfoView::onClickGotoPage, Qt::QueuedConnection);
    connect(m_pageEdit, &QLineEdit::returnPressed, this, &RDPagingInfoView::onClickGotoPage, Qt::QueuedConnection);
    retranslate();
    setPageInfo(0, 0);
}

void RDPagingInfoView::setPageInfo(int current, int count)
{
    m_pageInfoLabel->setText(QStringLiteral("%1 / %2").arg(current + 1).arg(count));
}

void RDPagingInfoView::retranslate()
{
    m_gotoLabel->setText(RDLanguage::translate(QStringLiteral("Go to")));
    m_pageLabel->setText(RDLanguage::translate(QStringLiteral("Page")));
    m_goButton->setText(RDLanguage::translate(QStringLiteral("Go")));
}

void RDPagingInfoView::onClickGotoPage()
{
    const QString text = m_pageEdit->text();
    m_pageEdit->clear();
    bool ok = false;
    const int page = text.trimmed().toInt(&ok, 10);
    if (ok)
        emit gotoPage(page - 1);
}

QSize RDPagingInfoView::sizeHint() const
{
    int width = 0;
    for (RDLabel* label : {m_pageInfoLabel, m_gotoLabel, m_pageLabel, m_goButton})
        width += label->sizeHint().width();
    return QSize(width + 70, kHeight);
}

void RDPagingInfoView::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    const int h = height();
    RDLOG("info view relayout(%d, %d)", width(), h);
    for (RDLabel* label : {m_pageInfoLabel, m_gotoLabel, m_pageLabel, m_goButton})
        label->adjustSize();
    m_pageInfoLabel->setGeometry(kGap, 0, m_pageInfoLabel->width() + 10, h);
    QWidget* previous = m_pageInfoLabel;
    for (QWidget* child : {static_cast<QWidget*>(m_gotoLabel), static_cast<QWidget*>(m_pageEdit),
                           static_cast<QWidget*>(m_pageLabel), static_cast<QWidget*>(m_goButton)}) {
        const int w = child == m_pageEdit ? kEditWidth : child->width();
        child->setGeometry(previous->geometry().right() + kGap, 0, w, h);
        previous = child;
    }
    for (RDLabel* label : {m_pageInfoLabel, m_gotoLabel, m_pageLabel, m_goButton})
        label->updateGeometry();
}
