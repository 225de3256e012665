// Draws the program's icons into PNG files and writes the resource list that names them.
// Usage: sonaris_drawicons <output folder>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QColor kGray(128, 128, 128);
const QColor kDark(51, 51, 51);
const QColor kGreen(53, 141, 0);
const QColor kWhite(255, 255, 255);
const QColor kLightBlue(190, 225, 255);

struct Icon
{
    const char* name;
    int width;
    int height;
    std::function<void(QPainter&)> draw;   // on a 32 x 32 canvas unless the size says otherwise
};

QPen pen(const QColor& color, double width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void plus(QPainter& p, const QColor& color, double width, double inset)
{
    p.setPen(pen(color, width));
    p.drawLine(QPointF(16, inset), QPointF(16, 32 - inset));
    p.drawLine(QPointF(inset, 16), QPointF(32 - inset, 16));
}

void disc(QPainter& p, const QColor& color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(1, 1, 30, 30));
}

void playTriangle(QPainter& p, const QColor& color, double scale)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    const double c = 16;
    QPolygonF tri;
    tri << QPointF(c - 6 * scale, c - 9 * scale) << QPointF(c + 9 * scale, c) << QPointF(c - 6 * scale, c + 9 * scale);
    p.drawPolygon(tri);
}

void pauseBars(QPainter& p, const QColor& color, double scale)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawRect(QRectF(16 - 7 * scale, 16 - 9 * scale, 5 * scale, 18 * scale));
    p.drawRect(QRectF(16 + 2 * scale, 16 - 9 * scale, 5 * scale, 18 * scale));
}

void speaker(QPainter& p, const QColor& color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    QPolygonF body;
    body << QPointF(3, 12) << QPointF(9, 12) << QPointF(16, 5) << QPointF(16, 27) << QPointF(9, 20) << QPointF(3, 20);
    p.drawPolygon(body);
}

void chevron(QPainter& p, const QColor& color, bool left, int w, int h)
{
    p.setPen(pen(color, w / 4.5));
    const double inset = w / 4.0;
    if (left)
        p.drawPolyline(QPolygonF() << QPointF(w - inset, inset) << QPointF(inset, h / 2.0)
                                   << QPointF(w - inset, h - inset));
    else
        p.drawPolyline(QPolygonF() << QPointF(inset, inset) << QPointF(w - inset, h / 2.0)
                                   << QPointF(inset, h - inset));
}

void microphone(QPainter& p, const QColor& color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawRoundedRect(QRectF(11, 3, 10, 17), 5, 5);
    p.setPen(pen(color, 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(7, 8, 18, 16), 180 * 16, 180 * 16);
    p.drawLine(QPointF(16, 24), QPointF(16, 29));
    p.drawLine(QPointF(11, 29), QPointF(21, 29));
}

void waves(QPainter& p, const QColor& color, int count)
{
    p.setPen(pen(color, 2.5));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < count; ++i) {
        const double r = 5 + i * 5;
        p.drawArc(QRectF(16 - r, 16 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
}

void soundingSpeaker(QPainter& p, const QColor& color)
{
    speaker(p, color);
    p.save();
    p.translate(4, 0);
    waves(p, color, 2);
    p.restore();
}

void pencil(QPainter& p, const QColor& color)
{
    p.setPen(pen(color, 5));
    p.drawLine(QPointF(8, 24), QPointF(24, 8));
    p.setPen(pen(color, 2));
    p.drawLine(QPointF(5, 28), QPointF(27, 28));
}

void dot(QPainter& p, const QColor& color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(2, 2, 12, 12));
}

void globe(QPainter& p, const QColor& color)
{
    p.setPen(pen(color, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.drawEllipse(QRectF(10, 3, 12, 26));
    p.drawLine(QPointF(3, 16), QPointF(29, 16));
    p.drawLine(QPointF(5, 9.5), QPointF(27, 9.5));
    p.drawLine(QPointF(5, 22.5), QPointF(27, 22.5));
}

std::vector<Icon> icons()
{
    return {
        {"add", 32, 32, [](QPainter& p) { plus(p, kDark, 3, 6); }},
        {"add_circle_white", 32, 32,
         [](QPainter& p) {
             p.setPen(pen(kWhite, 2));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QRectF(2, 2, 28, 28));
             plus(p, kWhite, 2.5, 9);
         }},
        {"add_style", 32, 32, [](QPainter& p) { disc(p, kGreen); plus(p, kWhite, 3, 9); }},
        {"alarm_gray", 32, 32,
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(kGray);
             QPainterPath bell;
             bell.moveTo(6, 24);
             bell.cubicTo(9, 20, 8, 6, 16, 5);
             bell.cubicTo(24, 6, 23, 20, 26, 24);
             bell.closeSubpath();
             p.drawPath(bell);
             p.drawEllipse(QRectF(13, 24, 6, 5));
         }},
        {"calendar_prev", 18, 30, [](QPainter& p) { chevron(p, kWhite, true, 18, 30); }},
        {"calendar_prev_pressed", 18, 30, [](QPainter& p) { chevron(p, kLightBlue, true, 18, 30); }},
        {"calendar_next", 18, 30, [](QPainter& p) { chevron(p, kWhite, false, 18, 30); }},
        {"calendar_next_pressed", 18, 30, [](QPainter& p) { chevron(p, kLightBlue, false, 18, 30); }},
        {"clock", 32, 32,
         [](QPainter& p) {
             p.setPen(pen(kGray, 2.5));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QRectF(3, 3, 26, 26));
             p.drawLine(QPointF(16, 16), QPointF(16, 8));
             p.drawLine(QPointF(16, 16), QPointF(22, 19));
         }},
        {"edit", 32, 32, [](QPainter& p) { pencil(p, kGray); }},
        {"edit_selected", 32, 32, [](QPainter& p) { pencil(p, kGreen); }},
        {"http", 32, 32,
         [](QPainter& p) {
             globe(p, kGreen);
         }},
        {"media_gray", 32, 32,
         [](QPainter& p) {
             p.setPen(pen(kGray, 2.5));
             p.drawLine(QPointF(12, 24), QPointF(12, 6));
             p.drawLine(QPointF(12, 6), QPointF(25, 4));
             p.drawLine(QPointF(25, 4), QPointF(25, 21));
             p.setPen(Qt::NoPen);
             p.setBrush(kGray);
             p.drawEllipse(QRectF(5, 20, 8, 7));
             p.drawEllipse(QRectF(18, 17, 8, 7));
         }},
        {"microphone_gray", 32, 32, [](QPainter& p) { microphone(p, kGray); }},
        {"multicast", 32, 32,
         [](QPainter& p) {
             p.setPen(pen(kGreen, 2.5));
             p.drawLine(QPointF(7, 16), QPointF(25, 6));
             p.drawLine(QPointF(7, 16), QPointF(25, 16));
             p.drawLine(QPointF(7, 16), QPointF(25, 26));
             p.setPen(Qt::NoPen);
             p.setBrush(kGreen);
             for (const QPointF& c : {QPointF(7, 16), QPointF(25, 6), QPointF(25, 16), QPointF(25, 26)})
                 p.drawEllipse(c, 3.5, 3.5);
         }},
        {"options", 32, 32,
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(kGray);
             for (int i = 0; i < 8; ++i) {
                 p.save();
                 p.translate(16, 16);
                 p.rotate(i * 45);
                 p.drawRect(QRectF(-3, -14, 6, 8));
                 p.restore();
             }
             p.drawEllipse(QPointF(16, 16), 9.5, 9.5);
             p.setBrush(kWhite);
             p.drawEllipse(QPointF(16, 16), 4, 4);
         }},
        {"pause_single", 32, 32, [](QPainter& p) { pauseBars(p, kGray, 1.0); }},
        {"pause_style", 32, 32, [](QPainter& p) { disc(p, kGreen); pauseBars(p, kWhite, 0.6); }},
        {"play", 32, 32, [](QPainter& p) { playTriangle(p, kGreen, 1.0); }},
        {"play_single", 32, 32, [](QPainter& p) { playTriangle(p, kGray, 1.0); }},
        {"play_style", 32, 32, [](QPainter& p) { disc(p, kGreen); playTriangle(p, kWhite, 0.6); }},
        {"point_normal", 16, 16, [](QPainter& p) { dot(p, QColor(200, 200, 200)); }},
        {"point_selected", 16, 16, [](QPainter& p) { dot(p, kGreen); }},
        {"save_style", 32, 32,
         [](QPainter& p) {
             disc(p, kGreen);
             p.setPen(pen(kWhite, 3));
             p.drawPolyline(QPolygonF() << QPointF(9, 16.5) << QPointF(14, 21.5) << QPointF(23, 11));
         }},
        {"search", 32, 32,
         [](QPainter& p) {
             p.setPen(pen(kGray, 3));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QRectF(4, 4, 17, 17));
             p.drawLine(QPointF(19, 19), QPointF(28, 28));
         }},
        {"sip", 32, 32,
         [](QPainter& p) {
             p.setPen(pen(kGreen, 6));
             p.setBrush(Qt::NoBrush);
             p.drawArc(QRectF(5, 7, 22, 22), 20 * 16, 140 * 16);
             p.setPen(Qt::NoPen);
             p.setBrush(kGreen);
             p.drawEllipse(QRectF(2, 12, 9, 8));
             p.drawEllipse(QRectF(21, 12, 9, 8));
         }},
        {"speak_gray", 32, 32, [](QPainter& p) { soundingSpeaker(p, kGray); }},
        {"stream_gray", 32, 32,
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(kGray);
             p.drawEllipse(QPointF(16, 16), 3.5, 3.5);
             p.setPen(pen(kGray, 2.5));
             p.setBrush(Qt::NoBrush);
             for (int i = 1; i <= 2; ++i) {
                 const double r = 4 + i * 5;
                 p.drawArc(QRectF(16 - r, 16 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
                 p.drawArc(QRectF(16 - r, 16 - r, 2 * r, 2 * r), 135 * 16, 90 * 16);
             }
         }},
        {"trash_black", 32, 32,
         [](QPainter& p) {
             p.setPen(pen(Qt::black, 2.5));
             p.setBrush(Qt::NoBrush);
             p.drawLine(QPointF(5, 8), QPointF(27, 8));
             p.drawLine(QPointF(12, 8), QPointF(13, 4));
             p.drawLine(QPointF(13, 4), QPointF(19, 4));
             p.drawLine(QPointF(19, 4), QPointF(20, 8));
             p.drawPolyline(QPolygonF() << QPointF(8, 8) << QPointF(10, 28) << QPointF(22, 28) << QPointF(24, 8));
             p.drawLine(QPointF(14, 13), QPointF(14, 23));
             p.drawLine(QPointF(18, 13), QPointF(18, 23));
         }},
        {"volume_normal", 32, 32, [](QPainter& p) { soundingSpeaker(p, kDark); }},
        {"volume_mute", 32, 32,
         [](QPainter& p) {
             speaker(p, kDark);
             p.setPen(pen(QColor(200, 40, 40), 2.5));
             p.drawLine(QPointF(20, 12), QPointF(28, 20));
             p.drawLine(QPointF(28, 12), QPointF(20, 20));
         }},
        {"web", 32, 32, [](QPainter& p) { globe(p, kGray); }},
    };
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }

    QString qrc = QStringLiteral("<RCC>\n  <qresource prefix=\"/\">\n");
    for (const Icon& icon : icons()) {
        QImage image(icon.width, icon.height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            icon.draw(painter);
        }
        // Tests tell the icons apart by this key (QImage::text("name")).
        image.setText(QStringLiteral("name"), QString::fromLatin1(icon.name));
        const QString file = QStringLiteral("%1.png").arg(QString::fromLatin1(icon.name));
        if (!image.save(folder + QLatin1Char('/') + file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        qrc += QStringLiteral("    <file>%1</file>\n").arg(file);
    }
    qrc += QStringLiteral("  </qresource>\n</RCC>\n");

    QFile out(folder + QStringLiteral("/icons.qrc"));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(qrc.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write icons.qrc\n");
        return 1;
    }
    return 0;
}
