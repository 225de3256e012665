#include "RDButton.h"
#include "RDLabel.h"
#include "RDSlider.h"
#include "RDVolumeLineEdit.h"
#include "RDVolumeSlider.h"
#include "RDVolumeValidator.h"

#include "GuiTest.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The button's click reaches the slider through a queued connection.
void clickMute(RDVolumeSlider& volume)
{
    QTest::mouseClick(volume.muteButton(), Qt::LeftButton);
    QCoreApplication::processEvents();
}

} // namespace

TEST(RDVolumeSlider, MuteTogglesBetweenZeroAndTheSavedValue)
{
    RDVolumeSlider volume;
    volume.resize(200, 30);
    volume.show();
    volume.setValue(60);
    QSignalSpy changed(&volume, &RDVolumeSlider::valueChanged);
    clickMute(volume);
    EXPECT_EQ(volume.value(), 0);
    EXPECT_TRUE(volume.muteButton()->isChecked());
    EXPECT_EQ(volume.valueLabel()->text(), "0");
    clickMute(volume);
    EXPECT_EQ(volume.value(), 60);
    EXPECT_FALSE(volume.muteButton()->isChecked());
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[0][0].toInt(), 0);
    EXPECT_EQ(changed[1][0].toInt(), 60);
}

TEST(RDVolumeSlider, SetValueZeroIsMutedAndSilent)
{
    RDVolumeSlider volume;
    QSignalSpy changed(&volume, &RDVolumeSlider::valueChanged);
    volume.setValue(0);
    EXPECT_TRUE(volume.muteButton()->isChecked());
    EXPECT_EQ(volume.valueLabel()->text(), "0");
    EXPECT_EQ(changed.count(), 0);
    // No value saved yet: unmuting leaves 0.
    clickMute(volume);
    EXPECT_EQ(volume.value(), 0);
    EXPECT_TRUE(volume.muteButton()->isChecked());
}

TEST(RDVolumeSlider, SliderChangeReachesTheLabel)
{
    RDVolumeSlider volume;
    volume.resize(200, 30);
    volume.show();
    QSignalSpy changed(&volume, &RDVolumeSlider::valueChanged);
    QTest::keyClick(volume.slider(), Qt::Key_Down);
    ASSERT_TRUE(GuiTest::waitFor([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed[0][0].toInt(), 90);
    EXPECT_EQ(volume.valueLabel()->text(), "90");
}

TEST(RDVolumeSlider, TypedValues)
{
    RDVolumeSlider volume;
    volume.resize(200, 30);
    volume.show();
    volume.setValue(40);
    QSignalSpy changed(&volume, &RDVolumeSlider::valueChanged);
    RDVolumeLineEdit* edit = volume.valueEdit();

    volume.onDoubleClickLabel();
    ASSERT_TRUE(edit->isVisible());
    EXPECT_FALSE(volume.valueLabel()->isVisible());
    EXPECT_EQ(edit->text(), "40");
    // The keystroke that would make 150 is refused.
    edit->clear();
    QTest::keyClicks(edit, "150");
    EXPECT_EQ(edit->text(), "15");
    edit->clear();
    QTest::keyClicks(edit, "55");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(volume.value(), 55);
    EXPECT_EQ(volume.valueLabel()->text(), "55");
    EXPECT_FALSE(edit->isVisible());
    EXPECT_TRUE(volume.valueLabel()->isVisible());

    // Escape drops the typed text.
    volume.onDoubleClickLabel();
    edit->clear();
    QTest::keyClicks(edit, "7");
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(volume.value(), 55);
    EXPECT_FALSE(edit->isVisible());

    // Up at the top stays; Down steps.
    volume.onDoubleClickLabel();
    edit->setText("100");
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "100");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text(), "99");
    QTest::keyClick(edit, Qt::Key_Enter);
    EXPECT_EQ(volume.value(), 99);
    EXPECT_EQ(changed.count(), 0);   // typed values are read, not announced
}

TEST(RDVolumeValidator, Table)
{
    RDVolumeValidator validator;
    validator.setRange(0, 100);
    const struct {
        const char* text;
        QValidator::State state;
    } cases[] = {
        {"", QValidator::Intermediate}, {"0", QValidator::Acceptable}, {"100", QValidator::Acceptable},
        {"101", QValidator::Invalid},   {"-1", QValidator::Invalid},   {"x", QValidator::Invalid},
    };
    for (const auto& c : cases) {
        QString text = c.text;
        int pos = text.size();
        EXPECT_EQ(validator.validate(text, pos), c.state) << c.text;
    }
    QString high = "250";
    validator.fixup(high);
    EXPECT_EQ(high, "100");
}

TEST(RDVolumeSlider, Picture)
{
    QWidget strip;
    strip.setAutoFillBackground(true);
    strip.resize(220, 70);
    RDVolumeSlider* loud = new RDVolumeSlider(&strip);
    loud->setGeometry(10, 5, 200, 30);
    loud->setValue(70);
    RDVolumeSlider* muted = new RDVolumeSlider(&strip);
    muted->setGeometry(10, 35, 200, 30);
    muted->setValue(0);
    strip.show();
    EXPECT_FALSE(GuiTest::grabToPng(&strip, "volume_sliders").isEmpty());
}
