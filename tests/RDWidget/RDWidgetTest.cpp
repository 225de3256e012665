#include "RDDialog.h"
#include "RDLabel.h"
#include "RDWidget.h"

#include "GuiTest.h"

#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

// A child widget painted over a red parent; the picture is read back pixel by pixel.
QImage paintOverRed(RDWidget* child, const QSize& size)
{
    QWidget parent;
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, Qt::red);
    parent.setPalette(palette);
    parent.resize(size + QSize(20, 20));
    child->setParent(&parent);
    child->setGeometry(10, 10, size.width(), size.height());
    const QImage image = parent.grab().toImage();
    child->setParent(nullptr);
    return image.copy(10, 10, size.width(), size.height());
}

} // namespace

TEST(RDWidget, BackgroundPaintsFillBorderAndCorners)
{
    const QColor red(Qt::red);
    const QColor blue(Qt::blue);
    const QColor green(Qt::green);
    const struct {
        const char* name;
        QColor fill;
        int radius;
        int borderWidth;
        QColor border;
        QColor centre;
        QColor corner;
        QColor edgeMiddle;   // the middle of the left edge
    } cases[] = {
        {"fresh", QColor(255, 255, 255, 0), 0, 0, QColor(255, 255, 255, 0), red, red, red},
        {"fill", blue, 0, 0, QColor(255, 255, 255, 0), blue, blue, blue},
        {"fill rounded", blue, 10, 0, QColor(255, 255, 255, 0), blue, red, blue},
        {"border", QColor(255, 255, 255, 0), 0, 4, green, red, green, green},
        {"border alpha 0", blue, 0, 4, QColor(0, 255, 0, 0), blue, blue, blue},
        {"border width 0", blue, 0, 0, green, blue, blue, blue},
    };
    for (const auto& c : cases) {
        RDWidget widget;
        widget.setBackgroundColor(c.fill);
        widget.setBorder(c.radius, c.borderWidth, c.border);
        const QImage image = paintOverRed(&widget, QSize(60, 40));
        EXPECT_EQ(image.pixelColor(30, 20), c.centre) << c.name;
        EXPECT_EQ(image.pixelColor(0, 0), c.corner) << c.name;
        EXPECT_EQ(image.pixelColor(0, 20), c.edgeMiddle) << c.name;
    }
}

TEST(RDWidget, ZeroSizeWithRadiusPaintsNothing)
{
    RDBackground background;
    background.fillColor = Qt::blue;
    background.radius = 5;
    QImage image(10, 10, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QPainter painter(&image);
    background.draw(&painter, QRect(2, 2, 0, 5));
    background.draw(&painter, QRect(2, 2, 5, 0));
    painter.end();
    EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::red));
    EXPECT_EQ(background.borderMargins(), QMargins(0, 0, 0, 0));
}

TEST(RDWidget, ClickedOnLeftPressDoubleClicked)
{
    RDWidget widget;
    widget.resize(50, 50);
    widget.show();
    QSignalSpy clicked(&widget, &RDWidget::clicked);
    QSignalSpy doubleClicked(&widget, &RDWidget::doubleClicked);

    QTest::mousePress(&widget, Qt::RightButton);
    QTest::mouseRelease(&widget, Qt::RightButton);
    EXPECT_EQ(clicked.count(), 0);

    QTest::mousePress(&widget, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);   // on the press, before any release
    QTest::mouseRelease(&widget, Qt::LeftButton);
    // The double-click's first press has been a click already.
    QTest::mouseDClick(&widget, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 2);
    EXPECT_EQ(doubleClicked.count(), 1);

    widget.doubleClickEnabled = false;
    QTest::mouseDClick(&widget, Qt::LeftButton);
    EXPECT_EQ(doubleClicked.count(), 1);
}

TEST(RDDialog, EscapeIsIgnoredReturnReachesTheDefaultButton)
{
    RDDialog dialog;
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    QPushButton* ok = new QPushButton("OK", &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(RDDialog, DismissFromAWorkerThreadEndsExec)
{
    RDDialog dialog;
    dialog.resize(200, 100);
    bool returnedAtOnce = false;
    std::thread worker;
    GuiTest::onModal([&](QWidget*) {
        worker = std::thread([&] {
            dialog.dismiss();
            // The accept is queued: the dialog is still open when dismiss returns.
            returnedAtOnce = true;
        });
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    worker.join();
    EXPECT_TRUE(returnedAtOnce);

    RDDialog same;
    same.show();
    same.dismiss();   // on its own thread: at once
    EXPECT_EQ(same.result(), QDialog::Accepted);
    EXPECT_FALSE(same.isVisible());
}

TEST(RDDialog, MoveToCenter)
{
    const struct {
        QRect target;
        QSize size;
        QPoint expected;
    } cases[] = {
        {QRect(0, 0, 800, 600), QSize(300, 80), QPoint(250, 260)},
        {QRect(100, 50, 801, 601), QSize(300, 80), QPoint(350, 310)},
        {QRect(10, 10, 100, 100), QSize(300, 200), QPoint(-90, -40)},
    };
    for (const auto& c : cases) {
        QWidget target;
        target.setGeometry(c.target);
        RDDialog dialog;
        dialog.resize(c.size);
        dialog.moveToCenter(&target);
        EXPECT_EQ(dialog.pos(), c.expected) << c.target.x();
        EXPECT_EQ(dialog.size(), c.size);
    }
    RDDialog dialog;
    dialog.move(7, 9);
    dialog.moveToCenter(nullptr);
    EXPECT_EQ(dialog.pos(), QPoint(7, 9));
}

// The alignment takes effect at the next paint: the text moves to the left edge.
TEST(RDLabel, AlignmentTakesEffectAtTheNextPaint)
{
    RDLabel label;
    label.setText("IIII");
    label.setTextColor(Qt::black);
    label.setBackgroundColor(Qt::white);
    label.resize(200, 30);
    const auto firstInk = [&label] {
        const QImage image = label.grab().toImage();
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (qGray(image.pixel(x, y)) < 128)
                    return x;
        return -1;
    };
    const int centred = firstInk();
    EXPECT_GT(centred, 60);
    label.setAlignment(129);
    EXPECT_EQ(label.alignment(), 129);
    const int left = firstInk();
    EXPECT_GE(left, 0);
    EXPECT_LT(left, 5);
}
