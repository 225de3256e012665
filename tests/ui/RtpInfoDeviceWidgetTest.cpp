#include "RtpInfoDeviceWidget.h"

#include "GuiTest.h"
#include "RDButton.h"
#include "RDPixmapCache.h"
#include "RtpInfoDeviceItemWidget.h"
#include "TestPulseServer.h"
#include "TestSupport.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QList<RDAudioDevice> sampleDevices()
{
    return {RDAudioDevice(QStringLiteral("alsa_input.usb-mic"), QStringLiteral("USB Microphone"),
                          RDAudioDevice::kCapture),
            RDAudioDevice(QStringLiteral("alsa_input.line"), QStringLiteral("Line In"),
                          RDAudioDevice::kCapture),
            RDAudioDevice(QStringLiteral("alsa_output.speakers"), QStringLiteral("Desk Speakers"),
                          RDAudioDevice::kRender)};
}

QList<bool> marks(const RtpInfoDeviceWidget& tab)
{
    QList<bool> result;
    for (int i = 0; i < tab.list()->count(); ++i)
        result.append(tab.row(i)->isMarked());
    return result;
}

qint64 iconKey(const char* name)
{
    return cachedPixmap(QString::fromLatin1(name), 16).cacheKey();
}

// The names PulseAudio lists in one of its short lists (sinks or sources), monitors left out.
QStringList pulseNames(TestPulseServer& pulse, const QString& what)
{
    QStringList names;
    const TestSupport::Result result =
        pulse.pactl({QStringLiteral("list"), QStringLiteral("short"), what});
    for (const QByteArray& line : result.out.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() > 1 && !fields[1].endsWith(".monitor"))
            names.append(QString::fromUtf8(fields[1]));
    }
    return names;
}

} // namespace

// The endpoints come from the sound server: its sources that are no monitor as capture rows
// (microphone), then its sinks as render rows (speaker), each named by its description.
TEST(RtpInfoDeviceWidget, ListsTheSoundServersEndpoints)
{
    SONARIS_REQUIRE_COMMANDS("pactl");
    TestPulseServer pulse;
    TEST_START_PULSE(pulse, {QStringLiteral("module-null-sink sink_name=desk "
                                            "sink_properties=\"device.description='Desk Speakers'\""),
                             QStringLiteral("module-null-sink sink_name=hdmi "
                                            "sink_properties=device.description=HDMI"),
                             QStringLiteral("module-null-source source_name=mic "
                                            "description=\"Line In\"")});
    const QList<RDAudioDevice> devices = RDAudioDevice::getAllDevices();
    QStringList ids;
    for (const RDAudioDevice& device : devices)
        ids.append(device.id);
    EXPECT_EQ(ids, pulseNames(pulse, QStringLiteral("sources")) + pulseNames(pulse, QStringLiteral("sinks")));
    EXPECT_EQ(ids, (QStringList{"mic", "desk", "hdmi"}));

    RtpInfoDeviceWidget tab;
    tab.resize(400, 300);
    tab.show();
    QSignalSpy changed(&tab, &RtpInfoDeviceWidget::deviceChanged);
    tab.setDevices(devices, QStringLiteral("hdmi"));
    EXPECT_EQ(changed.count(), 0);
    ASSERT_EQ(tab.list()->count(), 3);
    const struct
    {
        QString name;
        int kind;
        const char* icon;
    } expected[] = {
        {"Line In", RDAudioDevice::kCapture, ":/microphone_gray.png"},
        {"Desk Speakers", RDAudioDevice::kRender, ":/speak_gray.png"},
        {"HDMI", RDAudioDevice::kRender, ":/speak_gray.png"},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        RtpInfoDeviceItemWidget* row = tab.row(i);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->nameButton()->text(), expected[i].name);
        EXPECT_EQ(row->device().kind, expected[i].kind);
        EXPECT_EQ(row->nameButton()->currentPixmap().cacheKey(), iconKey(expected[i].icon));
        EXPECT_EQ(tab.list()->item(i)->flags(), Qt::ItemIsEnabled);
        EXPECT_EQ(tab.list()->item(i)->sizeHint().height(), RtpInfoDeviceWidget::kRowHeight);
    }
    EXPECT_EQ(marks(tab), (QList<bool>{false, false, true}));
    EXPECT_EQ(tab.row(2)->markButton()->currentPixmap().cacheKey(), iconKey(":/point_selected.png"));
    EXPECT_EQ(tab.row(0)->markButton()->currentPixmap().cacheKey(), iconKey(":/point_normal.png"));
    RDAudioDevice marked;
    ASSERT_TRUE(tab.markedDevice(&marked));
    EXPECT_EQ(marked.id, "hdmi");
    EXPECT_EQ(marked.name, "HDMI");
    EXPECT_EQ(marked.kind, RDAudioDevice::kRender);
    GuiTest::grabToPng(&tab, QStringLiteral("audio_source_tab"));
}

// A click moves the mark and reports once; the marked row reports nothing; a press on the mark
// or on the name counts as a click on the row.
TEST(RtpInfoDeviceWidget, ClickMovesTheMark)
{
    RtpInfoDeviceWidget tab;
    tab.resize(400, 300);
    tab.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
    tab.setDevices(sampleDevices(), QStringLiteral("alsa_input.usb-mic"));
    QSignalSpy changed(&tab, &RtpInfoDeviceWidget::deviceChanged);

    QTest::mouseClick(tab.row(0)->nameButton(), Qt::LeftButton);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(marks(tab), (QList<bool>{true, false, false}));

    QTest::mouseClick(tab.row(2)->nameButton(), Qt::LeftButton);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(marks(tab), (QList<bool>{false, false, true}));
    RDAudioDevice marked;
    ASSERT_TRUE(tab.markedDevice(&marked));
    EXPECT_EQ(marked.id, "alsa_output.speakers");
    EXPECT_EQ(marked.kind, RDAudioDevice::kRender);

    QTest::mouseClick(tab.row(1)->markButton(), Qt::LeftButton);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(marks(tab), (QList<bool>{false, true, false}));
    ASSERT_TRUE(tab.markedDevice(&marked));
    EXPECT_EQ(marked.id, "alsa_input.line");
    EXPECT_EQ(marked.name, "Line In");
    EXPECT_EQ(marked.kind, RDAudioDevice::kCapture);

    QTest::mouseClick(tab.row(0), Qt::LeftButton, Qt::NoModifier, QPoint(tab.row(0)->width() - 3, 5));
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(marks(tab), (QList<bool>{true, false, false}));

    // While the channel runs the list takes no clicks.
    tab.setEditable(false);
    QTest::mouseClick(tab.row(2)->nameButton(), Qt::LeftButton);
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(marks(tab), (QList<bool>{true, false, false}));
}

// A stored endpoint that is gone marks nothing, and the read-back says so, so that a save keeps
// the channel's endpoint; no endpoints at all give an empty list.
TEST(RtpInfoDeviceWidget, AbsentEndpointMarksNothing)
{
    RtpInfoDeviceWidget tab;
    tab.resize(400, 300);
    tab.setDevices(sampleDevices(), QStringLiteral("alsa_output.unplugged"));
    EXPECT_EQ(marks(tab), (QList<bool>{false, false, false}));
    RDAudioDevice untouched(QStringLiteral("kept"), QStringLiteral("Kept"), RDAudioDevice::kRender);
    EXPECT_FALSE(tab.markedDevice(&untouched));
    EXPECT_EQ(untouched.id, "kept");

    tab.setDevices(sampleDevices(), QString());
    EXPECT_EQ(marks(tab), (QList<bool>{false, false, false}));

    tab.setDevices(QList<RDAudioDevice>(), QStringLiteral("alsa_input.usb-mic"));
    EXPECT_EQ(tab.list()->count(), 0);
    EXPECT_TRUE(tab.devices().isEmpty());
    EXPECT_FALSE(tab.markedDevice(&untouched));
}

TEST(RtpInfoDeviceWidget, RowLayout)
{
    RtpInfoDeviceItemWidget row(sampleDevices().at(2));
    row.resize(300, 30);
    row.show();
    EXPECT_EQ(row.sizeHint(), QSize(0, 20));
    EXPECT_EQ(row.markButton()->geometry(), QRect(2, 7, 16, 16));
    EXPECT_EQ(row.nameButton()->geometry(), QRect(19, 5, 300 - 17 - 4, 20));
}
