#pragma once

#include <QRect>
#include <QString>

class QPainterPath;

// Small Qt-side helpers of the windows: time texts, path names and a rounded outline.

// "mm:ss" of the whole seconds (minutes not capped: 6000 gives "100:00"); "--:--" for a
// negative value, NaN, infinity or a value past the int range.
QString formatTime(double seconds);

// The part after the last '/' or '\'; the whole path when it has neither or ends with one.
QString fileName(const QString& path);
// fileName cut before its last '.', kept whole without a '.' or with the '.' last.
QString baseName(const QString& path);
// The two parts with exactly one '/' between them.
QString joinPath(const QString& a, const QString& b);
bool fileExists(const QString& path);
// True when the folder exists or was made (one level).
bool makeDir(const QString& path);

// Adds a rectangle with corners of radius r, running along the inclusive right and bottom edges
// of the rectangle; r 0 adds the plain rectangle.
void roundedRectPath(QPainterPath& path, const QRect& rect, int radius);
