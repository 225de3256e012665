#include "ZAVezeDeviceTextWidget.h"

#include "RDLabel.h"
#include "ZAVezeDeviceIpSetDialog.h"
#include "ZAVezeDeviceLineEdit.h"
#include "ZAVezeDeviceTableWidget.h"

#include <QMouseEvent>
#include <QValidator>

const char* const ZAVezeDeviceTextWidget::kIpv4Expression =
    "\\b(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\b";

ZAVezeDeviceTextWidget::ZAVezeDeviceTextWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column)
    : ZAVezeDeviceItemWidget(table, tool, row, column)
    , m_label(new RDLabel(this))
    , m_editor(new ZAVezeDeviceLineEdit(this))
{
    m_label->setAlignment(Qt::AlignCenter);
    // Presses and double clicks belong to the cell (and through it to the view's selection).
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_editor->hide();
    connect(m_editor, &ZAVezeDeviceLineEdit::editingFinished, this, &ZAVezeDeviceTextWidget::onEditFinished);
    connect(m_editor, &ZAVezeDeviceLineEdit::editingInterrupt, this, &ZAVezeDeviceTextWidget::onEditInterrupt);
}

QString ZAVezeDeviceTextWidget::text() const
{
    return m_text;
}

void ZAVezeDeviceTextWidget::setText(const QString& text)
{
    m_text = text;
    showText();
}

void ZAVezeDeviceTextWidget::showText()
{
    // A pixel of air on either side.
    const int room = m_label->width() - 2;
    const QString shown = room > 0 ? m_label->fontMetrics().elidedText(m_text, Qt::ElideRight, room) : m_text;
    m_label->setText(shown);
    setToolTip(shown == m_text ? QString() : m_text);
}

void ZAVezeDeviceTextWidget::setValidator(QValidator* validator)
{
    validator->setParent(this);
    m_editor->setValidator(validator);
}

QSize ZAVezeDeviceTextWidget::sizeHint() const
{
    const QSize hint = m_label->sizeHint();
    return QSize(m_label->fontMetrics().horizontalAdvance(m_text) + 10, hint.height());
}

void ZAVezeDeviceTextWidget::applyText(const QString& text)
{
    setText(text);
}

void ZAVezeDeviceTextWidget::interruptText(const QString&)
{
}

void ZAVezeDeviceTextWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    ZAVezeDeviceItemWidget::mouseDoubleClickEvent(event);
    if (!m_editable || m_editing)
        return;
    m_editing = true;
    m_label->hide();
    m_editor->setText(m_text);
    if (!m_editor->text().isEmpty())
        m_editor->setCursorPosition(m_editor->text().size());
    m_editor->show();
    m_editor->setFocus();
    event->accept();
}

void ZAVezeDeviceTextWidget::onEditFinished()
{
    // Return and the focus loss that follows (or a dialog taking the focus) both finish: only
    // the first counts.
    if (!m_editing)
        return;
    const QString text = m_editor->text();
    endEdit();
    if (text != m_text)
        applyText(text);
}

void ZAVezeDeviceTextWidget::onEditInterrupt()
{
    if (!m_editing)
        return;
    const QString text = m_editor->text();
    endEdit();
    interruptText(text);
}

void ZAVezeDeviceTextWidget::endEdit()
{
    m_editing = false;
    m_editor->hide();
    m_label->show();
}

bool ZAVezeDeviceTextWidget::isAcceptable(const QString& text) const
{
    const QValidator* validator = m_editor->validator();
    if (!validator)
        return true;
    QString copy = text;
    int position = 0;
    return validator->validate(copy, position) == QValidator::Acceptable;
}

void ZAVezeDeviceTextWidget::applyAddress(const QString& ip, const QString& netmask, const QString& gateway)
{
    if (!hasDevice())
        return;
    // The label keeps the old value: the job's report to the table paints a success.
    const ZAVezeDevice device = table->devices().at(row());
    ZAVezeDeviceIpSetDialog dialog(this, tool, table);
    dialog.setDeviceStatic(device, ip, netmask, gateway, device.dns1(), device.dns2());
    dialog.exec();
}

QRect ZAVezeDeviceTextWidget::labelRect() const
{
    return rect();
}

void ZAVezeDeviceTextWidget::placeLabel()
{
    const QRect r = labelRect();
    m_label->setGeometry(r);
    m_editor->setGeometry(r);
    showText();
}

void ZAVezeDeviceTextWidget::resizeEvent(QResizeEvent* event)
{
    ZAVezeDeviceItemWidget::resizeEvent(event);
    placeLabel();
}
