#pragma once

#include <QMap>
#include <QPixmap>
#include <QString>

// One loaded image and its scaled copies, by width.
struct RDPixmapCacheEntry
{
    QMap<int, QPixmap> pixmaps;
    int baseWidth = 0;
};

// The icon at path (":/volume_mute.png" and the like) scaled smoothly to width (aspect kept; 0
// gives the natural width). Each path is decoded once and each width scaled once: later calls
// return the same pixmap (same cacheKey). An empty path or an unreadable file gives a null
// pixmap. GUI thread only.
QPixmap cachedPixmap(const QString& path, int width);
