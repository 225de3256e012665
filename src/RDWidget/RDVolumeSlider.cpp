#include "RDVolumeSlider.h"

#include "RDButton.h"
#include "RDLabel.h"
#include "RDPixmapCache.h"
#include "RDSlider.h"
#include "RDVolumeLineEdit.h"
#include "RDVolumeValidator.h"

namespace {

constexpr int kButtonSide = 20;
constexpr int kIconWidth = 16;

} // namespace

RDVolumeSlider::RDVolumeSlider(QWidget* parent)
    : RDWidget(parent)
    , m_valueLabel(new RDLabel(this))
    , m_valueEdit(new RDVolumeLineEdit(this))
    , m_validator(new RDVolumeValidator(m_valueEdit))
    , m_slider(new RDSlider(this))
    , m_muteButton(new RDButton(this))
{
    m_slider->setTrackColor(QColor(0, 0, 0, 255));
    m_slider->setOrientation(RDSlider::kHorizontal);
    connect(m_slider, &RDSlider::valueChanged, this, &RDVolumeSlider::onValueChanged, Qt::QueuedConnection);
    connect(m_muteButton, &RDButton::clicked, this, &RDVolumeSlider::onClickButton, Qt::QueuedConnection);
    m_muteButton->setCheckedPixmaps(cachedPixmap(QStringLiteral(":/volume_normal.png"), kIconWidth),
                                    cachedPixmap(QStringLiteral(":/volume_mute.png"), kIconWidth));
    // Sized for the widest value, "100", once: the label keeps this width.
    m_valueLabel->setText(QString::number(100));
    m_valueLabel->adjustSize();
    m_valueLabel->resize(m_valueLabel->width() + 5, m_valueLabel->height());
    m_valueEdit->setValidator(m_validator);
    m_valueEdit->hide();
    m_slider->setRange(0, 100);
    m_validator->setRange(m_slider->minimum(), m_slider->maximum());
    m_muteButton->setChecked(m_slider->value() == 0);
    m_valueLabel->setText(QString::number(m_slider->value()));
    m_valueLabel->setAlignment(Qt::AlignCenter);
    connect(m_valueLabel, &RDLabel::doubleClicked, this, &RDVolumeSlider::onDoubleClickLabel);
    connect(m_valueEdit, &QLineEdit::editingFinished, this, &RDVolumeSlider::onEditFinished);
    connect(m_valueEdit, &RDVolumeLineEdit::editingInterrupt, this, &RDVolumeSlider::onEditInterrupt);
}

int RDVolumeSlider::value() const
{
    return m_slider->value();
}

void RDVolumeSlider::showValue(int value)
{
    m_muteButton->setChecked(value == 0);
    m_valueLabel->setText(QString::number(value));
}

void RDVolumeSlider::setValue(int value)
{
    m_slider->setValue(value);
    showValue(m_slider->value());
}

void RDVolumeSlider::onValueChanged(int value)
{
    showValue(value);
    emit valueChanged(value);
}

void RDVolumeSlider::onClickButton()
{
    if (m_slider->value() != 0) {
        m_savedValue = m_slider->value();
        m_slider->setValue(0);
        showValue(0);
    } else {
        m_slider->setValue(m_savedValue);
        showValue(m_slider->value());
    }
    emit valueChanged(m_slider->value());
}

void RDVolumeSlider::onDoubleClickLabel()
{
    if (m_valueEdit->isVisible())
        return;
    m_valueEdit->setText(m_valueLabel->text());
    if (!m_valueEdit->text().isEmpty())
        m_valueEdit->end(false);
    m_valueLabel->hide();
    m_valueEdit->show();
    m_valueEdit->setFocus(Qt::OtherFocusReason);
}

void RDVolumeSlider::closeEditor()
{
    m_valueEdit->hide();
    m_valueLabel->show();
}

void RDVolumeSlider::onEditFinished()
{
    if (!m_valueEdit->isVisible())
        return;
    const QString text = m_valueEdit->text();
    if (text == m_valueLabel->text()) {
        closeEditor();
        return;
    }
    bool ok = false;
    const int typed = text.toInt(&ok);
    if (!ok)
        return;
    m_slider->setValue(typed);
    showValue(m_slider->value());
    closeEditor();
}

void RDVolumeSlider::onEditInterrupt()
{
    closeEditor();
}

void RDVolumeSlider::resizeEvent(QResizeEvent* event)
{
    RDWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    const int lw = m_valueLabel->width();
    m_muteButton->setGeometry(0, (h - kButtonSide) / 2, kButtonSide, kButtonSide);
    m_valueLabel->setGeometry(w - lw, 0, lw, h);
    m_valueEdit->setGeometry(m_valueLabel->geometry());
    m_slider->setGeometry(kButtonSide, 0, w - lw - kButtonSide - 2, h);
}
