#include "resources/Images.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <QtMath>
#include <initializer_list>

// The rcc output lives in a static library, where nothing registers it by
// itself; this must sit outside any namespace (the macro declares a function).
static void registerCompiledImages()
{
    Q_INIT_RESOURCE(resources);
}

namespace selavia::resources {
namespace {

void ensureRegistered()
{
    [[maybe_unused]] static const bool registered = (registerCompiledImages(), true);
}

QString imagePath(const QString& name)
{
    return QStringLiteral(":/images/") + name + QStringLiteral(".svg");
}

// Drawn straight from the SVG so that pixmaps do not depend on the SVG image
// format plugin being installed; cached because trees ask for the same
// images over and over.
QPixmap render(const QString& path, QSize size, qreal ratio)
{
    ensureRegistered();
    const QSize pixels(qCeil(size.width() * ratio), qCeil(size.height() * ratio));
    const QString cacheKey = QStringLiteral("selavia:%1:%2x%3:%4")
                                 .arg(path)
                                 .arg(pixels.width())
                                 .arg(pixels.height())
                                 .arg(ratio);
    QPixmap pixmap;
    if (QPixmapCache::find(cacheKey, &pixmap)) {
        return pixmap;
    }
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) {
        return {};
    }
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    pixmap = QPixmap(pixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(ratio);
    QPixmapCache::insert(cacheKey, pixmap);
    return pixmap;
}

QPixmap render(const QString& path, int size, qreal ratio)
{
    return render(path, QSize(size, size), ratio);
}

// One pixmap per size lets QIcon pick an exact match for small sizes and
// high pixel ratios instead of scaling a single bitmap.
QIcon iconFrom(const QString& path, std::initializer_list<int> sizes)
{
    QIcon icon;
    for (const int size : sizes) {
        icon.addPixmap(render(path, size, 1.0));
    }
    return icon;
}

QString pictureName(Picture which)
{
    switch (which) {
    case Picture::Error:
        return QStringLiteral("error");
    case Picture::Tick:
        return QStringLiteral("tick");
    case Picture::Exclamation:
        return QStringLiteral("exclamation");
    case Picture::Alert:
        return QStringLiteral("alert");
    case Picture::AppIcon:
        return QStringLiteral("selavia");
    case Picture::Strip:
        return QStringLiteral("strip");
    case Picture::Bullet:
        return QStringLiteral("bullet");
    case Picture::Link:
        return QStringLiteral("link");
    }
    return {};
}

} // namespace

QIcon treeImage(const QString& key)
{
    ensureRegistered();
    // The key names the file, so it must not lead out of the tree's images.
    const QString path = QStringLiteral(":/tree/") + key + QStringLiteral(".svg");
    if (key.isEmpty() || key.contains(QLatin1Char('/')) || !QFile::exists(path)) {
        return {};
    }
    return iconFrom(path, {16, 24, 32, 48, 64});
}

QPixmap picture(Picture which, int size)
{
    return picture(which, QSize(size, size));
}

QPixmap picture(Picture which, QSize size)
{
    if (size.width() < 1 || size.height() < 1) {
        return {};
    }
    const qreal ratio = qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
    return render(imagePath(pictureName(which)), size, ratio);
}

QSize ownSize(Picture which)
{
    ensureRegistered();
    return QSvgRenderer(imagePath(pictureName(which))).defaultSize();
}

QIcon appIcon()
{
    return iconFrom(imagePath(pictureName(Picture::AppIcon)), {16, 22, 24, 32, 48, 64, 128, 256});
}

} // namespace selavia::resources
