#include "resources/Images.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
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

// Draws the SVG at the size asked for, when it is asked for: an icon costs
// nothing until it is shown, and only the sizes shown are drawn (a window
// shows a few of the many sizes an icon offers).
class SvgIconEngine : public QIconEngine {
public:
    SvgIconEngine(QString path, QList<QSize> sizes)
        : path_(std::move(path)), sizes_(std::move(sizes))
    {
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        const QPixmap drawn = render(path_, size, 1.0);
        return mode == QIcon::Disabled ? greyed(drawn) : drawn;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio =
            painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return sizes_; }
    QIconEngine* clone() const override { return new SvgIconEngine(path_, sizes_); }
    QString key() const override { return QStringLiteral("selavia-svg"); }

private:
    // As a disabled control shows its picture: grey and faded.
    static QPixmap greyed(const QPixmap& pixmap)
    {
        QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int grey = qGray(line[x]);
                line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
            }
        }
        return QPixmap::fromImage(image);
    }

    QString path_;
    QList<QSize> sizes_;
};

QIcon iconFrom(const QString& path, std::initializer_list<int> sizes)
{
    QList<QSize> squares;
    for (const int size : sizes) {
        squares << QSize(size, size);
    }
    return QIcon(new SvgIconEngine(path, squares));
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
    // One icon per key, shared by every node that shows it.
    static QHash<QString, QIcon> icons;
    if (const auto known = icons.constFind(key); known != icons.constEnd()) {
        return *known;
    }
    ensureRegistered();
    // The key names the file, so it must not lead out of the tree's images.
    const QString path = QStringLiteral(":/tree/") + key + QStringLiteral(".svg");
    if (key.isEmpty() || key.contains(QLatin1Char('/')) || !QFile::exists(path)) {
        return {};
    }
    return *icons.insert(key, iconFrom(path, {16, 24, 32, 48, 64}));
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
