#include "RtpInfoBellSelectWidget.h"

#include "RDLanguage.h"

#include <QPushButton>

namespace {

constexpr int kButtonHeight = 20;

} // namespace

RtpInfoBellSelectWidget::RtpInfoBellSelectWidget(const QString& bell, QWidget* parent)
    : RDWidget(parent)
    , m_bell(bell)
{
    m_button = new QPushButton(RDLanguage::translate(QStringLiteral("Select")), this);
    // The button takes its own press, so the cell's and the button's never both fire.
    connect(m_button, &QPushButton::clicked, this, [this] { emit requestSelect(m_bell); });
    connect(this, &RDWidget::clicked, this, [this] { emit requestSelect(m_bell); });
}

QSize RtpInfoBellSelectWidget::sizeHint() const
{
    return m_button->sizeHint();
}

void RtpInfoBellSelectWidget::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    const int w = m_button->sizeHint().width();
    m_button->setGeometry((width() - w) / 2, (height() - kButtonHeight) / 2, w, kButtonHeight);
}
