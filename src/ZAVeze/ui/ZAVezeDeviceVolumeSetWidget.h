#pragma once

#include "ZAVezeDeviceSectionWidget.h"

#include <QVector>

class QCheckBox;
class QPushButton;
class RDLabel;
class RDVolumeSlider;

// The volume section of the device settings panel: the test-tone button, the microphone and
// speaker volumes (0 to 100) and the amplifier's auto-off, with "Set" and "Set All" buttons.
// The panel connects the buttons and reads the sliders and the box when it applies them.
class ZAVezeDeviceVolumeSetWidget : public ZAVezeDeviceSectionWidget
{
    Q_OBJECT
public:
    explicit ZAVezeDeviceVolumeSetWidget(QWidget* parent = nullptr);

    void retranslate() override;
    void setDevice(const ZAVezeDevice& device) override;
    QSize sizeHint() const override;

    QPushButton* audioTestButton() const { return m_audioTest; }
    // Created hidden: the devices have no microphone test.
    QPushButton* microphoneTestButton() const { return m_microphoneTest; }
    RDVolumeSlider* microphoneSlider() const { return m_microphone; }
    RDVolumeSlider* speakerSlider() const { return m_speaker; }
    QCheckBox* autoOffBox() const { return m_autoOff; }
    QPushButton* setButton() const { return m_set; }
    QPushButton* setAllButton() const { return m_setAll; }

protected:
    void placeControls(int rowsTop) override;

private:
    int labelColumnWidth() const;

    QPushButton* m_audioTest;
    QPushButton* m_microphoneTest;
    RDLabel* m_microphoneLabel;
    RDVolumeSlider* m_microphone;
    RDLabel* m_speakerLabel;
    RDVolumeSlider* m_speaker;
    RDLabel* m_autoOffLabel;
    QCheckBox* m_autoOff;
    QPushButton* m_set;
    QPushButton* m_setAll;
};
