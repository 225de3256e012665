#pragma once

#include <QProxyStyle>

// Tabs of the options dialog: fixed 90 x 44 cells, no frame, the selected one filled with the
// theme green and lettered in light grey, the others in dark grey on the dialog's background.
class RDVerticalTabStyle : public QProxyStyle
{
    Q_OBJECT
public:
    static constexpr int kTabWidth = 90;
    static constexpr int kTabHeight = 44;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
};
