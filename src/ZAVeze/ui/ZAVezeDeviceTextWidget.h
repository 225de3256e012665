#pragma once

#include "ZAVezeDeviceItemWidget.h"

class QValidator;
class RDLabel;
class ZAVezeDeviceLineEdit;

// A cell that shows a text and, when editable, turns into a line editor on a double click.
// Return, Enter or a focus loss finish the edit, Escape cancels it. A finished edit whose text
// differs runs applyText() exactly once, after the editor is hidden (the dialog it may open
// takes the focus, which would finish the edit again).
class ZAVezeDeviceTextWidget : public ZAVezeDeviceItemWidget
{
    Q_OBJECT
public:
    ZAVezeDeviceTextWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column);

    // The whole text, also when the label shows it shortened.
    QString text() const override;
    void setText(const QString& text);
    void setEditable(bool editable) { m_editable = editable; }
    bool isEditable() const { return m_editable; }
    bool isEditing() const { return m_editing; }
    RDLabel* label() const { return m_label; }
    ZAVezeDeviceLineEdit* editor() const { return m_editor; }
    // Takes ownership; the address cells check their text with it.
    void setValidator(QValidator* validator);

    QSize sizeHint() const override;

    // The finished edit's text, when it differs from the shown one; sets the label here.
    virtual void applyText(const QString& text);
    // The editor's text of a cancelled edit; nothing here.
    virtual void interruptText(const QString& text);

    // The IPv4 expression of the address editors.
    static const char* const kIpv4Expression;

public slots:
    void onEditFinished();
    void onEditInterrupt();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // Whether text is a whole address as the validator sees it.
    bool isAcceptable(const QString& text) const;
    // Opens the static address dialog for the row's stored record, with the record's values but
    // for the one the cell edits.
    void applyAddress(const QString& ip, const QString& netmask, const QString& gateway);
    // Where the label (and the editor over it) sits.
    virtual QRect labelRect() const;
    void placeLabel();

private:
    void endEdit();
    // A text wider than the cell ends in an ellipsis (device names and addresses are long, the
    // columns share the table's width); the whole text is then the cell's tool tip.
    void showText();

    RDLabel* m_label;
    ZAVezeDeviceLineEdit* m_editor;
    QString m_text;
    bool m_editable = true;
    bool m_editing = false;
};
