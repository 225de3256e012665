#include "RDButton.h"
#include "RDFormAlign.h"
#include "RDLabel.h"
#include "RDLabelButton.h"
#include "RDPixmapCache.h"
#include "RDPixmapWidget.h"

#include "GuiTest.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QPixmap solid(const QColor& color, int w = 10, int h = 10)
{
    QPixmap pixmap(w, h);
    pixmap.fill(color);
    return pixmap;
}

bool hasReddish(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                return true;
        }
    return false;
}

} // namespace

// Checked x hovered picks one of four pixmaps and one of four backgrounds.
TEST(RDButton, StateTable)
{
    RDButton button;
    button.resize(40, 40);
    button.setPixmaps(solid(Qt::red), solid(Qt::green));
    button.setBackgroundColors(QColor(10, 10, 10), QColor(20, 20, 20));
    // Checked pixmaps come from setCheckedPixmaps, which sets the unchecked pair as well.
    RDButton reference;
    button.setCheckedBackgroundColors(QColor(30, 30, 30), QColor(40, 40, 40));
    const struct {
        bool checked;
        bool hovered;
        QColor pixmap;
        QColor background;
    } cases[] = {
        {false, false, Qt::red, QColor(10, 10, 10)},
        {false, true, Qt::green, QColor(20, 20, 20)},
        {true, false, Qt::blue, QColor(30, 30, 30)},
        {true, true, Qt::blue, QColor(40, 40, 40)},
    };
    QPixmap checked = solid(Qt::blue);
    for (const auto& c : cases) {
        button.setPixmaps(solid(Qt::red), solid(Qt::green));
        if (c.checked) {
            // Both hover states of the checked pair show the checked pixmap.
            button.setCheckedPixmaps(solid(Qt::red), checked);
        }
        QWidget window;
        window.resize(100, 100);
        button.setParent(&window);
        button.move(30, 30);
        window.show();
        QTest::mouseMove(&window, QPoint(5, 5));
        if (c.hovered)
            QTest::mouseMove(&button, QPoint(20, 20));
        button.setChecked(c.checked);
        EXPECT_EQ(button.isHovered(), c.hovered);
        const QImage image = button.grab().toImage();
        EXPECT_EQ(image.pixelColor(20, 20), c.pixmap) << c.checked << c.hovered;
        EXPECT_EQ(image.pixelColor(1, 1), c.background) << c.checked << c.hovered;
        button.setParent(nullptr);
    }
}

TEST(RDButton, CheckStateSwapsTheIconPair)
{
    RDButton button;
    button.resize(30, 30);
    const QPixmap normal = cachedPixmap(":/volume_normal.png", 16);
    const QPixmap mute = cachedPixmap(":/volume_mute.png", 16);
    ASSERT_FALSE(normal.isNull());
    ASSERT_FALSE(mute.isNull());
    button.setCheckedPixmaps(normal, mute);
    EXPECT_EQ(button.currentPixmap().cacheKey(), normal.cacheKey());
    button.setChecked(true);
    EXPECT_TRUE(button.isChecked());
    EXPECT_EQ(button.currentPixmap().cacheKey(), mute.cacheKey());
    button.setChecked(false);
    EXPECT_EQ(button.currentPixmap().cacheKey(), normal.cacheKey());
}

TEST(RDButton, PixmapAndTextPlacement)
{
    RDButton pixmapOnly;
    pixmapOnly.setPixmap(solid(Qt::red, 10, 6));
    EXPECT_EQ(pixmapOnly.sizeHint(), QSize(10, 6));
    pixmapOnly.resize(30, 20);
    QImage image = pixmapOnly.grab().toImage();
    EXPECT_EQ(image.pixelColor(10, 7), QColor(Qt::red));   // centred at (10, 7)
    EXPECT_EQ(image.pixelColor(19, 12), QColor(Qt::red));
    EXPECT_NE(image.pixelColor(9, 7), QColor(Qt::red));
    EXPECT_NE(image.pixelColor(20, 7), QColor(Qt::red));

    RDButton both;
    both.setPixmap(solid(Qt::red, 10, 10));
    both.setText("Play");
    both.resize(80, 30);
    image = both.grab().toImage();
    EXPECT_EQ(image.pixelColor(5, 10), QColor(Qt::red));   // at x = spacing
    EXPECT_NE(image.pixelColor(4, 10), QColor(Qt::red));
    const QSize t = both.fontMetrics().size(Qt::AlignCenter, "Play");
    EXPECT_EQ(both.sizeHint(), QSize(t.width() + 10 + 15, std::max(10, t.height())));

    RDButton textOnly;
    textOnly.setText("Play");
    EXPECT_EQ(textOnly.sizeHint(), QSize(t.width() + 10, t.height()));
}

TEST(RDLabel, DisabledTextIsGrey)
{
    RDLabel label;
    label.setText("WWWW");
    label.setTextColor(Qt::red);
    label.resize(80, 30);
    EXPECT_TRUE(hasReddish(label.grab().toImage()));
    label.setEnabled(false);
    EXPECT_FALSE(hasReddish(label.grab().toImage()));

    RDLabelButton button;
    button.setText("WWWW");
    button.setTextColor(Qt::red);
    button.resize(80, 30);
    EXPECT_TRUE(hasReddish(button.grab().toImage()));
    button.setEnabled(false);
    EXPECT_FALSE(hasReddish(button.grab().toImage()));
}

TEST(RDLabel, SizeHintAddsMargins)
{
    RDLabel label;
    label.setText("Go to");
    label.setMargins(10, 2, 10, 4);
    const QSize t = label.fontMetrics().size(Qt::AlignCenter, "Go to");
    EXPECT_EQ(label.sizeHint(), QSize(t.width() + 20, t.height() + 6));
}

TEST(RDLabelButton, PixmapThenText)
{
    RDLabelButton button;
    button.setPixmap(solid(Qt::blue, 12, 12));
    button.setText("Add");
    const QSize t = button.fontMetrics().size(0, "Add");
    EXPECT_EQ(button.sizeHint(), QSize(12 + t.width() + 5, std::max(12, t.height())));
    button.resize(80, 30);
    const QImage image = button.grab().toImage();
    EXPECT_EQ(image.pixelColor(0, 9), QColor(Qt::blue));   // y = (30 - 12) / 2
    EXPECT_EQ(image.pixelColor(11, 20), QColor(Qt::blue));

    RDPixmapWidget widget;
    widget.setPixmap(solid(Qt::green, 8, 4));
    EXPECT_EQ(widget.sizeHint(), QSize(8, 4));
}

TEST(RDPixmapCache, OnePixmapPerNameAndWidth)
{
    EXPECT_TRUE(cachedPixmap("", 16).isNull());
    EXPECT_TRUE(cachedPixmap(":/no_such_icon.png", 16).isNull());

    const QPixmap natural = cachedPixmap(":/calendar_prev.png", 0);
    ASSERT_FALSE(natural.isNull());
    EXPECT_EQ(natural.size(), QImage(":/calendar_prev.png").size());
    const QPixmap nine = cachedPixmap(":/calendar_prev.png", 9);
    EXPECT_EQ(nine.width(), 9);
    EXPECT_EQ(nine.height(), natural.height() * 9 / natural.width());
    EXPECT_EQ(cachedPixmap(":/calendar_prev.png", 9).cacheKey(), nine.cacheKey());
    EXPECT_EQ(cachedPixmap(":/calendar_prev.png", 0).cacheKey(), natural.cacheKey());

    // A file that cannot be read.
    QTemporaryDir dir;
    QFile broken(dir.filePath("broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a png");
    broken.close();
    EXPECT_TRUE(cachedPixmap(broken.fileName(), 16).isNull());
}

// Every icon the windows ask for exists and tells its name.
TEST(RDPixmapCache, IconsCarryTheirNames)
{
    const char* const names[] = {
        "add", "add_circle_white", "add_style", "alarm_gray", "calendar_next", "calendar_next_pressed",
        "calendar_prev", "calendar_prev_pressed", "clock", "edit", "edit_selected", "http", "media_gray",
        "microphone_gray", "multicast", "options", "pause_single", "pause_style", "play", "play_single",
        "play_style", "point_normal", "point_selected", "save_style", "search", "sip", "speak_gray",
        "stream_gray", "trash_black", "volume_mute", "volume_normal", "web"};
    cachedPixmap(":/add.png", 0);   // registers the resources
    // A sheet of all of them on a mid-blue ground (the white ones show too), for a look.
    QImage sheet(8 * 40, 4 * 40, QImage::Format_ARGB32);
    sheet.fill(QColor(140, 180, 220));
    QPainter painter(&sheet);
    int i = 0;
    for (const char* name : names) {
        const QImage image(QStringLiteral(":/%1.png").arg(name));
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.text("name"), QString::fromLatin1(name));
        painter.drawPixmap((i % 8) * 40 + 4, (i / 8) * 40 + 4, cachedPixmap(QStringLiteral(":/%1.png").arg(name), 32));
        ++i;
    }
    painter.end();
    EXPECT_TRUE(sheet.save(GuiTest::outputDir() + "/icons.png"));
}

TEST(RDFormAlign, StopsAtTheFirstNull)
{
    QWidget parent;
    RDLabel* a = new RDLabel(&parent);
    RDLabel* b = new RDLabel(&parent);
    RDLabel* c = new RDLabel(&parent);
    a->setText("Name");
    b->setText("Address and port");
    c->setText("A much longer label than the others");
    const int ab = std::max(a->sizeHint().width(), b->sizeHint().width());
    EXPECT_EQ(maxWidth(a, b, static_cast<QWidget*>(nullptr), c), ab);
    EXPECT_EQ(maxWidth(a, b, c), c->sizeHint().width());
    EXPECT_EQ(maxWidthOf({}), 0);
    EXPECT_EQ(maxWidthOf({nullptr, a}), 0);

    setLabelsAlignment(129, a, static_cast<RDLabel*>(nullptr), c);
    EXPECT_EQ(a->alignment(), 129);
    EXPECT_EQ(c->alignment(), static_cast<int>(Qt::AlignCenter));
}

TEST(RDButton, Picture)
{
    QWidget strip;
    strip.setAutoFillBackground(true);
    strip.resize(260, 50);
    const struct {
        bool checked;
        int x;
    } buttons[] = {{false, 10}, {true, 135}};
    for (const auto& b : buttons) {
        RDButton* button = new RDButton(&strip);
        button->setCheckedPixmaps(cachedPixmap(":/volume_normal.png", 16), cachedPixmap(":/volume_mute.png", 16));
        button->setText("Mute");
        button->setCheckedText("Unmute");
        button->setBackgroundColors(QColor(255, 255, 255), QColor(235, 235, 235));
        button->setCheckedBackgroundColors(QColor(53, 141, 0, 60), QColor(53, 141, 0, 90));
        button->setBorder(3, 1, QColor(53, 141, 0));
        button->setChecked(b.checked);
        button->setGeometry(b.x, 10, 115, 30);
    }
    strip.show();
    EXPECT_FALSE(GuiTest::grabToPng(&strip, "buttons").isEmpty());
}
