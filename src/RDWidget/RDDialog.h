#pragma once

#include "RDBackground.h"

#include <QDialog>

class RDLabel;

// The base dialog: paints itself as an RDBackground, has no context-help button, ignores Escape,
// can centre itself over another widget and host a toast. dismiss() and the toast slots may be
// called from any thread: they re-post themselves to the dialog's thread.
class RDDialog : public QDialog, public RDBackground
{
    Q_OBJECT
public:
    explicit RDDialog(QWidget* parent = nullptr);

    // Keeps the size, centres over target; a null target changes nothing.
    void moveToCenter(QWidget* target);
    RDLabel* currentToast() const { return toast; }

public slots:
    void showToast(const QString& message, Qt::Alignment alignment = Qt::AlignHCenter | Qt::AlignBottom,
                   int marginX = 5, int marginY = 5);
    void hideToast();
    // Accepts the dialog (at once on its own thread, through a queued call from any other).
    void dismiss();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    RDLabel* toast = nullptr;
};
