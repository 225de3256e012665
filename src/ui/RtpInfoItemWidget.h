#pragma once

#include "RDWidget.h"
#include "RtpInfo.h"

class RDButton;
class RDLabel;

// One row of the channel list: the play/pause button, the channel's name (its address when it
// has none), and while it runs what started it and which kind of source it sends. The row keeps
// a copy of the record it shows; the list reads it back for the requests it raises. GUI thread
// only.
class RtpInfoItemWidget : public RDWidget
{
    Q_OBJECT
public:
    // The selection mark's backgrounds.
    static const QColor kSelectedColor;
    static const QColor kClearColor;

    explicit RtpInfoItemWidget(QWidget* parent = nullptr);

    // Shows the record: play state, trigger and source icons, name. The mark is not touched.
    void setRtpInfo(const RtpInfo& info);
    const RtpInfo& rtpInfo() const { return m_info; }

    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }

    // The icon paths a record shows, empty for none: what started it (":/sip.png" also for any
    // channel carrying a SIP call) and the kind of source it sends.
    static QString triggerIconPath(const RtpInfo& info);
    static QString sourceIconPath(const RtpInfo& info);

    RDButton* playButton() const { return m_playButton; }
    RDLabel* nameLabel() const { return m_nameLabel; }
    RDButton* triggerIcon() const { return m_triggerIcon; }
    RDButton* sourceIcon() const { return m_sourceIcon; }

signals:
    void clickStartButton();

public slots:
    void onClickStartButton();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    RtpInfo m_info;
    bool m_selected = false;
    RDButton* m_playButton;
    RDLabel* m_nameLabel;
    RDButton* m_triggerIcon;
    RDButton* m_sourceIcon;
};
