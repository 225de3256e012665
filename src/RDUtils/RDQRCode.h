#pragma once

#include <QImage>
#include <QString>

// A width x height image, white, with the QR symbol of the text's UTF-8 bytes (at least version
// 2, level Q, 8-bit mode) in black square modules filling a size x size square in its centre.
// A null image when the text cannot be encoded (too long for any version).
QImage createQRCodeImage(const QString& text, int width, int height, int size);
