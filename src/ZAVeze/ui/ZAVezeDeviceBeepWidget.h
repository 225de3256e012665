#pragma once

#include "ZAVezeDeviceItemWidget.h"

class RDPixmapWidget;

// The test-tone button of a row.
class ZAVezeDeviceBeepWidget : public ZAVezeDeviceItemWidget
{
    Q_OBJECT
public:
    ZAVezeDeviceBeepWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column);

    RDPixmapWidget* button() const { return m_button; }
    QSize sizeHint() const override { return QSize(25, 25); }

public slots:
    // Plays the tone on the row's device in a modal busy dialog.
    void onClickBeep();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    RDPixmapWidget* m_button;
};
