#pragma once

#include <QLineEdit>

// The editor of a typed volume: Escape interrupts, Return and Enter finish, Up and Down step the
// number within the validator's range.
class RDVolumeLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit RDVolumeLineEdit(QWidget* parent = nullptr);

signals:
    void editingInterrupt();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool stepBy(int delta);
};
