#pragma once

#include "RDAudioDevice.h"
#include "RDWidget.h"

class RDButton;

// One row of the audio source list: a selection mark and the endpoint's name beside a microphone
// (capture) or speaker (render) icon. A press anywhere on the row reaches it as clicked().
class RtpInfoDeviceItemWidget : public RDWidget
{
    Q_OBJECT
public:
    explicit RtpInfoDeviceItemWidget(const RDAudioDevice& device, QWidget* parent = nullptr);

    const RDAudioDevice& device() const { return m_device; }
    void setMarked(bool marked);
    bool isMarked() const;

    RDButton* markButton() const { return m_markButton; }
    RDButton* nameButton() const { return m_nameButton; }

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    RDAudioDevice m_device;
    RDButton* m_markButton = nullptr;
    RDButton* m_nameButton = nullptr;
};
