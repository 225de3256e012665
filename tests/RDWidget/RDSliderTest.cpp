#include "RDSlider.h"
#include "RDSliderThumb.h"
#include "RDSwitch.h"

#include "GuiTest.h"

#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

void sendWheel(QWidget* widget, const QPoint& angle)
{
    QWheelEvent event(QPointF(5, 5), widget->mapToGlobal(QPoint(5, 5)), QPoint(), angle, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &event);
}

void sendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

// W = 112 and a 12-px thumb: 100 px of travel from x = 6 to x = 106, one value per pixel.
TEST(RDSlider, PointerToValueTable)
{
    RDSlider slider;
    slider.resize(112, 20);
    slider.setValue(50);
    QSignalSpy changed(&slider, &RDSlider::valueChanged);
    sendMouse(&slider, QEvent::MouseButtonPress, QPoint(30, 10), Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(slider.isPressed());
    EXPECT_EQ(slider.value(), 50);   // a press does not move the value
    const struct {
        int x;
        int value;
    } cases[] = {{6, 0}, {56, 50}, {106, 100}, {-40, 0}, {500, 100}, {31, 25}, {31, 25}};
    for (const auto& c : cases) {
        sendMouse(&slider, QEvent::MouseMove, QPoint(c.x, 10), Qt::NoButton, Qt::LeftButton);
        EXPECT_EQ(slider.value(), c.value) << c.x;
    }
    // A signal on every move, the unchanged last one too.
    EXPECT_EQ(changed.count(), 7);
    sendMouse(&slider, QEvent::MouseButtonRelease, QPoint(81, 10), Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(slider.isPressed());
    EXPECT_EQ(slider.value(), 75);
    EXPECT_EQ(changed.count(), 8);

    // A move without the left button held changes nothing.
    sendMouse(&slider, QEvent::MouseMove, QPoint(6, 10), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(slider.value(), 75);
}

TEST(RDSlider, KeysStepAndStaySilentAtTheEnds)
{
    RDSlider slider;
    slider.resize(112, 20);
    slider.setRange(0, 100);
    EXPECT_EQ(slider.step(), 10);
    slider.setValue(95);
    QSignalSpy changed(&slider, &RDSlider::valueChanged);
    QTest::keyClick(&slider, Qt::Key_Up);
    EXPECT_EQ(slider.value(), 100);
    EXPECT_EQ(changed.count(), 1);
    QTest::keyClick(&slider, Qt::Key_Up);
    EXPECT_EQ(changed.count(), 1);   // at the maximum: nothing
    QTest::keyClick(&slider, Qt::Key_Left);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(slider.value(), 100);
    QTest::keyClick(&slider, Qt::Key_Down);
    EXPECT_EQ(slider.value(), 90);
    EXPECT_EQ(changed.count(), 2);

    // A small range still steps by one.
    slider.setRange(0, 5);
    EXPECT_EQ(slider.step(), 1);
    slider.setValue(2);
    QTest::keyClick(&slider, Qt::Key_Up);
    EXPECT_EQ(slider.value(), 3);
}

TEST(RDSlider, Wheel)
{
    RDSlider slider;
    slider.resize(112, 20);
    slider.setRange(0, 100);
    slider.setValue(50);
    QSignalSpy changed(&slider, &RDSlider::valueChanged);
    const struct {
        QPoint angle;
        int value;
        int emitted;
    } cases[] = {
        {QPoint(0, 120), 60, 1},
        {QPoint(0, -120), 50, 2},
        {QPoint(120, 0), 50, 2},   // sideways
        {QPoint(0, 0), 50, 2},     // no angle
        {QPoint(120, 30), 50, 2},  // mostly sideways
    };
    for (const auto& c : cases) {
        sendWheel(&slider, c.angle);
        EXPECT_EQ(slider.value(), c.value) << c.angle.x() << "," << c.angle.y();
        EXPECT_EQ(changed.count(), c.emitted) << c.angle.x() << "," << c.angle.y();
    }
}

TEST(RDSlider, ThumbAndTrackGeometry)
{
    RDSlider slider;
    slider.resize(112, 20);
    const struct {
        int value;
        int x;
    } cases[] = {{0, 0}, {50, 50}, {100, 100}, {33, 33}};
    for (const auto& c : cases) {
        slider.setValue(c.value);
        EXPECT_EQ(slider.thumb()->geometry(), QRect(c.x, 4, 12, 12)) << c.value;
    }
    EXPECT_EQ(slider.track()->geometry(), QRect(6, 8, 100, 3));

    RDSlider vertical;
    vertical.setOrientation(RDSlider::kVertical);
    vertical.resize(20, 112);
    vertical.setValue(0);
    EXPECT_EQ(vertical.thumb()->pos(), QPoint(4, 100));
    vertical.setValue(100);
    EXPECT_EQ(vertical.thumb()->pos(), QPoint(4, 0));
    EXPECT_EQ(vertical.track()->geometry(), QRect(8, 6, 3, 100));
    EXPECT_EQ(vertical.valueAt(QPoint(10, 6)), 100);
    EXPECT_EQ(vertical.valueAt(QPoint(10, 106)), 0);

    // No room to slide, and an empty range: the minimum and the start, no crash.
    RDSlider narrow;
    narrow.resize(8, 20);
    EXPECT_EQ(narrow.valueAt(QPoint(4, 10)), 0);
    narrow.setRange(7, 7);
    EXPECT_EQ(narrow.value(), 7);
    EXPECT_EQ(narrow.thumb()->x(), 0);
}

TEST(RDSlider, SetValueAndSetRangeAreSilent)
{
    RDSlider slider;
    QSignalSpy changed(&slider, &RDSlider::valueChanged);
    slider.setValue(30);
    slider.setRange(0, 20);
    EXPECT_EQ(slider.value(), 20);
    EXPECT_EQ(slider.previousValue(), 30);
    slider.setValueNotify(20, true);   // unchanged: dropped
    EXPECT_EQ(changed.count(), 0);
    slider.setValueNotify(5, true);
    EXPECT_EQ(changed.count(), 1);
}

TEST(RDSwitch, ClickTogglesOnceDuringTheSlide)
{
    RDSwitch sw;
    sw.resize(44, 22);
    sw.show();
    QSignalSpy changed(&sw, &RDSwitch::checkedChanged);
    QTest::mouseClick(&sw, Qt::LeftButton);
    QTest::mouseClick(&sw, Qt::LeftButton);   // within 100 ms: ignored
    EXPECT_TRUE(sw.isChecked());
    ASSERT_EQ(changed.count(), 1);
    EXPECT_TRUE(changed[0][0].toBool());
    ASSERT_TRUE(GuiTest::waitFor([&] { return !sw.isAnimating(); }, 2000));
    EXPECT_EQ(sw.progress(), 100);

    // The knob sits at the right end, white on the green pill.
    QImage image = sw.grab().toImage();
    EXPECT_EQ(image.pixelColor(33, 11), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(11, 11), QColor(53, 141, 0));

    QTest::mouseClick(&sw, Qt::RightButton);
    EXPECT_TRUE(sw.isChecked());
    QTest::mouseClick(&sw, Qt::LeftButton);
    EXPECT_FALSE(sw.isChecked());
    EXPECT_EQ(changed.count(), 2);
    ASSERT_TRUE(GuiTest::waitFor([&] { return !sw.isAnimating(); }, 2000));
    image = sw.grab().toImage();
    EXPECT_EQ(image.pixelColor(11, 11), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(33, 11), QColor(102, 102, 102));
}

TEST(RDSwitch, SetCheckedIsSilentAndSameStateRestartsNothing)
{
    RDSwitch sw;
    QSignalSpy changed(&sw, &RDSwitch::checkedChanged);
    sw.setChecked(false);
    EXPECT_FALSE(sw.isAnimating());
    EXPECT_EQ(sw.progress(), 100);
    sw.setChecked(true);
    EXPECT_TRUE(sw.isAnimating());
    EXPECT_EQ(sw.progress(), 0);
    EXPECT_EQ(changed.count(), 0);
    // A double-click is no third press.
    sw.resize(44, 22);
    ASSERT_TRUE(GuiTest::waitFor([&] { return !sw.isAnimating(); }, 2000));
    QTest::mouseDClick(&sw, Qt::LeftButton);
    EXPECT_LE(changed.count(), 1);
}
