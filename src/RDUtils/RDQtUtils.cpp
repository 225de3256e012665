#include "RDQtUtils.h"

#include "RDString.h"

#include <QDir>
#include <QFile>
#include <QPainterPath>

#include <algorithm>
#include <climits>
#include <cmath>

QString formatTime(double seconds)
{
    // The truncation to int below is undefined for these, so they read as "no time" too.
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= static_cast<double>(INT_MAX))
        return QStringLiteral("--:--");
    const int whole = static_cast<int>(seconds);
    return QStringLiteral("%1:%2")
        .arg(whole / 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString fileName(const QString& path)
{
    const int at = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    if (at < 0 || at == path.size() - 1)
        return path;
    return path.mid(at + 1);
}

QString baseName(const QString& path)
{
    if (path.isEmpty())
        return QString();
    const QString name = fileName(path);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot == name.size() - 1)
        return name;
    return name.left(dot);
}

QString joinPath(const QString& a, const QString& b)
{
    return QString::fromStdString(joinUrlPath(a.toStdString(), b.toStdString()));
}

bool fileExists(const QString& path)
{
    return QFile::exists(path);
}

bool makeDir(const QString& path)
{
    QDir dir;
    if (dir.exists(path))
        return true;
    return dir.mkdir(path);
}

void roundedRectPath(QPainterPath& path, const QRect& rect, int radius)
{
    const int r = radius;
    if (r == 0) {
        path.addRect(QRectF(rect));
        return;
    }
    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.right();
    const int bottom = rect.bottom();
    path.moveTo(left + r, top);
    path.arcTo(left, top, 2 * r, 2 * r, 90, 90);
    path.lineTo(left, bottom - r);
    path.arcTo(left, bottom - 2 * r, 2 * r, 2 * r, 180, 90);
    path.lineTo(right - r, bottom);
    path.arcTo(right - 2 * r, bottom - 2 * r, 2 * r, 2 * r, 270, 90);
    path.lineTo(right, top + r);
    path.arcTo(right - 2 * r, top, 2 * r, 2 * r, 0, 90);
    path.lineTo(left + r, top);
}
