#include "RDPixmapCache.h"

#include "RDLog.h"

#include <QHash>

// The icons live in a static library: its resources must be registered by name.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

QPixmap cachedPixmap(const QString& path, int width)
{
    static QHash<QString, RDPixmapCacheEntry> cache;
    static const bool resourcesReady = (initIconResources(), true);
    Q_UNUSED(resourcesReady);

    if (path.isEmpty())
        return QPixmap();
    RDPixmapCacheEntry& entry = cache[path];
    if (entry.pixmaps.isEmpty()) {
        const QPixmap loaded(path);
        if (loaded.isNull()) {
            RDLOG("cannot load the image %s", qUtf8Printable(path));
            cache.remove(path);
            return QPixmap();
        }
        entry.baseWidth = loaded.width();
        entry.pixmaps.insert(entry.baseWidth, loaded);
    }
    if (width == 0)
        width = entry.baseWidth;
    const auto found = entry.pixmaps.constFind(width);
    if (found != entry.pixmaps.constEnd())
        return *found;
    if (width < 0)
        return QPixmap();
    const QPixmap scaled = entry.pixmaps.value(entry.baseWidth).scaledToWidth(width, Qt::SmoothTransformation);
    entry.pixmaps.insert(width, scaled);
    return scaled;
}
