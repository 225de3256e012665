#include "RDQRCode.h"

#include "RDLog.h"

#include <QPainter>
#include <QPainterPath>

#include <qrencode.h>

#include <memory>

namespace {

constexpr int kMinimumVersion = 2;

struct QRcodeFree
{
    void operator()(QRcode* code) const { QRcode_free(code); }
};

} // namespace

QImage createQRCodeImage(const QString& text, int width, int height, int size)
{
    if (width <= 0 || height <= 0)
        return QImage();
    const QByteArray bytes = text.toUtf8();
    std::unique_ptr<QRcode, QRcodeFree> code(
        QRcode_encodeString(bytes.constData(), kMinimumVersion, QR_ECLEVEL_Q, QR_MODE_8, 1));
    if (!code) {
        RDLOG("cannot encode %d bytes as a QR code", static_cast<int>(bytes.size()));
        return QImage();
    }

    QImage image(width, height, QImage::Format_ARGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(0, 0, width, height);

    const int n = code->width > 0 ? code->width : 1;
    const double module = static_cast<double>(size) / n;
    const int ox = (width - size) / 2;
    const int oy = (height - size) / 2;
    // One path for all dark modules: squares drawn one by one with antialiasing leave light
    // seams where fractional edges meet, which scanners read as white lines.
    QPainterPath dark;
    dark.setFillRule(Qt::WindingFill);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (code->data[i * n + j] & 1)
                dark.addRect(QRectF(j * module + ox, i * module + oy, module, module));
        }
    }
    painter.fillPath(dark, Qt::black);
    return image;
}
