#include "RDOptionsHelpWidget.h"

#include "RDTr.h"
#include "Sonaris.h"

#include <QDate>
#include <QLabel>

RDOptionsHelpWidget::RDOptionsHelpWidget(QWidget* parent)
    : RDToast(parent)
    , m_versionCaption(new QLabel(this))
    , m_versionValue(new QLabel(this))
    , m_dateCaption(new QLabel(this))
    , m_dateValue(new QLabel(this))
    , m_contactCaption(new QLabel(this))
    , m_contactValue(new QLabel(this))
{
    m_contactValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    localize();
}

void RDOptionsHelpWidget::localize()
{
    m_versionCaption->setText(rdTr("Version"));
    m_versionValue->setText(QLatin1String(Sonaris::kVersion));
    m_dateCaption->setText(rdTr("Build Date"));
    m_dateValue->setText(QDate::fromString(QLatin1String(kBuildDate), QStringLiteral("yyyyMMdd"))
                             .toString(QStringLiteral("yyyy-MM-dd")));
    m_contactCaption->setText(rdTr("Contact us"));
    m_contactValue->setText(QLatin1String(kContact));
    relayout();
}

QLabel* RDOptionsHelpWidget::caption(int row) const
{
    const QLabel* const captions[] = {m_versionCaption, m_dateCaption, m_contactCaption};
    return row >= 0 && row < 3 ? const_cast<QLabel*>(captions[row]) : nullptr;
}

QLabel* RDOptionsHelpWidget::value(int row) const
{
    const QLabel* const values[] = {m_versionValue, m_dateValue, m_contactValue};
    return row >= 0 && row < 3 ? const_cast<QLabel*>(values[row]) : nullptr;
}

void RDOptionsHelpWidget::resizeEvent(QResizeEvent* event)
{
    RDToast::resizeEvent(event);
    relayout();
}

void RDOptionsHelpWidget::relayout()
{
    for (int row = 0; row < 3; ++row) {
        const int y = 10 + 30 * row;
        caption(row)->setGeometry(10, y, 150, 30);
        value(row)->setGeometry(170, y, std::max(0, width() - 160), 30);
    }
}
