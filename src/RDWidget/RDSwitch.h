#pragma once

#include "RDWidget.h"

#include <QTimer>

// An on/off switch drawn as a pill with a knob that slides in five 20 ms steps. A click toggles
// it and emits checkedChanged; a click during the slide is ignored; setChecked is silent.
class RDSwitch : public RDWidget
{
    Q_OBJECT
public:
    explicit RDSwitch(QWidget* parent = nullptr);

    void setChecked(bool checked);
    bool isChecked() const { return m_checked; }
    bool isAnimating() const { return m_timer.isActive(); }
    int progress() const { return m_progress; }

    QColor onColor = QColor(53, 141, 0, 255);
    QColor offColor = QColor(102, 102, 102, 255);
    QColor knobColor = QColor(255, 255, 255, 255);
    int knobMargin = 1;

signals:
    void checkedChanged(bool checked);

public slots:
    void onTimeout();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kStepMs = 20;
    static constexpr int kStepPercent = 20;

    void restartAnimation();

    QTimer m_timer;
    bool m_checked = false;
    int m_progress = 100;
};
