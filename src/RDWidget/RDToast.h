#pragma once

#include "RDWidget.h"

class RDLabel;

// A widget that can show a toast over itself (the option pages, the live-radio tab). The slots
// may be called from any thread: they re-post themselves to the widget's thread.
class RDToast : public RDWidget
{
    Q_OBJECT
public:
    explicit RDToast(QWidget* parent = nullptr);

    RDLabel* currentToast() const { return toast; }

public slots:
    // alignment: Qt::AlignmentFlag bits; a new toast replaces the one shown. It goes after two
    // seconds or on a click on it.
    void showToast(const QString& message, int alignment = 0x44, int marginX = 5, int marginY = 5);
    void hideToast();

private:
    RDLabel* toast = nullptr;
};
