#pragma once

#include "ZAVezeDeviceTextWidget.h"

class RDPixmapWidget;

// The address cell: a web button that opens the device's page, and the address, always
// editable; a finished edit that is a whole IPv4 address sets the device to a static address
// with its other stored values.
class ZAVezeDeviceIpWidget : public ZAVezeDeviceTextWidget
{
    Q_OBJECT
public:
    ZAVezeDeviceIpWidget(ZAVezeDeviceTableWidget* table, ZAVeze* tool, int row, int column);

    // Shows ip; the web button points at "http://<ip>/index.html" only when ip is a dotted IPv4
    // address (the text comes from the device), and is disabled otherwise.
    void setIp(const QString& ip);
    RDPixmapWidget* webButton() const { return m_web; }

    void applyText(const QString& text) override;
    QSize sizeHint() const override;

public slots:
    void onClickWeb();

protected:
    QRect labelRect() const override;
    void resizeEvent(QResizeEvent* event) override;

private:
    RDPixmapWidget* m_web;
};
