#pragma once

#include <QWidget>

// The round handle of RDSlider: a filled circle of its whole size.
class RDSliderThumb : public QWidget
{
    Q_OBJECT
public:
    explicit RDSliderThumb(QWidget* parent = nullptr);

    QColor color = QColor(48, 144, 234, 255);

protected:
    void paintEvent(QPaintEvent* event) override;
};
