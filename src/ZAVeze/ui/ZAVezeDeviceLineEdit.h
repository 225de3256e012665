#pragma once

#include <QLineEdit>

// The in-place editor of a device table cell: Return and Enter finish (editingFinished()),
// Escape cancels (editingInterrupt()), and the focus moving to another widget of the program
// finishes as well (the window losing its activation does not). Return followed by the focus
// loss gives the signal twice for one edit; the cell absorbs the repeat.
class ZAVezeDeviceLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit ZAVezeDeviceLineEdit(QWidget* parent = nullptr);

signals:
    void editingInterrupt();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};
