#include "ZAVezeDeviceVolumeSetWidget.h"

#include "RDLabel.h"
#include "RDVolumeSlider.h"
#include "ZAVezeDevice.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

// The volume rows stand further apart than other sections' rows: the sliders need the room.
constexpr int kVolumeRowGap = 10;
constexpr int kMinWidth = 250;

} // namespace

ZAVezeDeviceVolumeSetWidget::ZAVezeDeviceVolumeSetWidget(QWidget* parent)
    : ZAVezeDeviceSectionWidget(parent)
    , m_audioTest(addButton())
    , m_microphoneTest(addButton())
    , m_microphoneLabel(addLabel(kLeftLabelAlignment))
    , m_microphone(new RDVolumeSlider(this))
    , m_speakerLabel(addLabel(kLeftLabelAlignment))
    , m_speaker(new RDVolumeSlider(this))
    , m_autoOffLabel(addLabel(kLeftLabelAlignment))
    , m_autoOff(new QCheckBox(this))
    , m_set(addButton())
    , m_setAll(addButton())
{
    deviceLabel()->setAlignment(Qt::AlignCenter);
    m_microphoneTest->hide();
    retranslate();
}

void ZAVezeDeviceVolumeSetWidget::retranslate()
{
    setTranslatedText(titleLabel(), "Volume Settings");
    setTranslatedText(m_audioTest, "Audio Test");
    setTranslatedText(m_microphoneTest, "Microphone Test");
    setTranslatedText(m_microphoneLabel, "Microphone Volume");
    setTranslatedText(m_speakerLabel, "Speaker Volume");
    setTranslatedText(m_autoOffLabel, "Amp Auto OFF");
    setTranslatedText(m_set, "Set");
    setTranslatedText(m_setAll, "Set All");
    relayout();
}

void ZAVezeDeviceVolumeSetWidget::setDevice(const ZAVezeDevice& device)
{
    m_microphone->setValue(device.micVolume());
    m_speaker->setValue(device.outVolume());
    m_autoOff->setChecked(device.autoMute() != 0);
    ZAVezeDeviceSectionWidget::setDevice(device);
}

int ZAVezeDeviceVolumeSetWidget::labelColumnWidth() const
{
    return widestLabel({m_microphoneLabel, m_speakerLabel, m_autoOffLabel});
}

QSize ZAVezeDeviceVolumeSetWidget::sizeHint() const
{
    return QSize(qMax(kMinWidth, labelColumnWidth() + 210), 0);
}

void ZAVezeDeviceVolumeSetWidget::placeControls(int rowsTop)
{
    const int labelLeft = frameRect().left() + 10;
    const int labelWidth = labelColumnWidth();
    const int step = kRowHeight + kVolumeRowGap;
    m_audioTest->setGeometry(labelLeft, rowsTop, buttonWidth(m_audioTest), kRowHeight);
    m_microphoneTest->setGeometry(m_audioTest->geometry().right() + 11, rowsTop, buttonWidth(m_microphoneTest),
                                  kRowHeight);
    placeRow(m_microphoneLabel, m_microphone, labelLeft, labelWidth, rowsTop + step);
    placeRow(m_speakerLabel, m_speaker, labelLeft, labelWidth, rowsTop + 2 * step);
    placeRow(m_autoOffLabel, m_autoOff, labelLeft, labelWidth, rowsTop + 3 * step);
    placeButtonPair(m_set, m_setAll, height() - 55);
}
