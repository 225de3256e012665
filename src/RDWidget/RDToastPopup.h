#pragma once

#include <QPoint>
#include <functional>
#include <QSize>
#include <QString>

class QWidget;
class RDLabel;

// The toast label both toast hosts (RDToast, RDDialog) show: dark translucent, rounded, white
// text, placed at an edge or the centre of the host.
class RDToastPopup
{
public:
    static constexpr int kShowMs = 2000;
    static constexpr int kDefaultAlignment = 0x44;   // Qt::AlignHCenter | Qt::AlignBottom
    static constexpr int kDefaultMargin = 5;

    // Makes the label as a child of host, sized to its hint, placed and shown.
    static RDLabel* create(QWidget* host, const QString& message, int alignment, int marginX, int marginY);
    // After kShowMs calls hide, unless the label has gone or is no longer the host's toast (so
    // the timer of a replaced toast never hides a later one).
    static void armHideTimer(RDLabel* label, RDLabel* const* current, const std::function<void()>& hide);
    // Takes the toast out of slot (hidden, detached from its host, slot null); null when none.
    static RDLabel* detach(RDLabel*& slot);
    // Left before horizontal centre before right; top before vertical centre before bottom; no
    // flag on an axis places at the margin.
    static QPoint position(const QSize& host, const QSize& label, int alignment, int marginX, int marginY);
};
