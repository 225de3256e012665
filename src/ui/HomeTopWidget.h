#pragma once

#include "RDLocalize.h"
#include "RDWidget.h"

class RDButton;

// The main window's top bar: "Scan Devices", "RTP Multicast" and "Options" side by side from
// the left, their borders overlapping by one pixel.
class HomeTopWidget : public RDWidget, public RDLocalize
{
    Q_OBJECT
public:
    explicit HomeTopWidget(QWidget* parent = nullptr);

    void localize() override;

    RDButton* searchButton() const { return m_searchButton; }
    RDButton* rtpButton() const { return m_rtpButton; }
    RDButton* settingsButton() const { return m_settingsButton; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();

    RDButton* m_searchButton;
    RDButton* m_rtpButton;
    RDButton* m_settingsButton;
};
