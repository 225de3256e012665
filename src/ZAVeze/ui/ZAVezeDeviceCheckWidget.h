#pragma once

#include "ZAVezeDeviceItemWidget.h"

class QCheckBox;

// The row's tick box; a left press anywhere on the cell clicks it.
class ZAVezeDeviceCheckWidget : public ZAVezeDeviceItemWidget
{
    Q_OBJECT
public:
    ZAVezeDeviceCheckWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column);

    bool isChecked() const;
    // Does not emit checkBoxClicked.
    void setChecked(bool checked);
    QCheckBox* checkBox() const { return m_box; }
    QSize sizeHint() const override { return QSize(25, 25); }

signals:
    void checkBoxClicked(bool checked);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QCheckBox* m_box;
};
