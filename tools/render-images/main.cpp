// selavia-render-images PASTA
//
// Writes each picture to PASTA as a PNG at four times its size, plus
// overview.png: every picture at its real size, enlarged pixel by pixel, on a
// light and on a dark background, to judge how it reads on screen.

#include "resources/Images.h"
#include "verify/TreeKeys.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

namespace res = selavia::resources;

constexpr int kScale = 4;

bool save(const QPixmap& pixmap, const QDir& dir, const QString& name)
{
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    if (pixmap.isNull() || !pixmap.save(path, "PNG")) {
        std::fprintf(stderr, "Não foi possível gravar %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The real-size drawings side by side, each enlarged without smoothing.
QImage overview(const std::vector<QPixmap>& images)
{
    constexpr int kCell = 36;
    const int width = int(images.size()) * kCell;
    QImage sheet(width * kScale, 2 * kCell * kScale, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&sheet);
    painter.fillRect(0, 0, sheet.width(), sheet.height() / 2, QColor(0xf5, 0xf5, 0xf5));
    painter.fillRect(0, sheet.height() / 2, sheet.width(), sheet.height() / 2,
                     QColor(0x2d, 0x2f, 0x33));
    painter.scale(kScale, kScale);
    for (int row = 0; row < 2; ++row) {
        for (std::size_t i = 0; i < images.size(); ++i) {
            const QImage image = images[i].toImage();
            painter.drawImage(int(i) * kCell + (kCell - image.width()) / 2,
                              row * kCell + (kCell - image.height()) / 2, image);
        }
    }
    return sheet;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "Uso: selavia-render-images PASTA\n");
        return 2;
    }
    const QDir dir(arguments.at(1));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "Não foi possível criar %s\n", qPrintable(dir.path()));
        return 1;
    }

    bool ok = true;
    std::vector<QPixmap> realSize;
    for (const QString key : selavia::verify::keys::kImageKeys) {
        const QIcon icon = res::treeImage(key);
        ok &= save(icon.pixmap(QSize(16 * kScale, 16 * kScale), 1.0), dir, key);
        realSize.push_back(icon.pixmap(QSize(16, 16), 1.0));
    }
    const std::pair<res::Picture, const char*> pictures[] = {
        {res::Picture::Error, "error"},
        {res::Picture::Tick, "tick"},
        {res::Picture::Exclamation, "exclamation"},
        {res::Picture::Alert, "alert"},
        {res::Picture::AppIcon, "selavia"},
    };
    for (const auto& [which, name] : pictures) {
        QPixmap large = res::picture(which, 32 * kScale);
        large.setDevicePixelRatio(1.0);
        ok &= save(large, dir, QString::fromLatin1(name));
        QPixmap small = res::picture(which, 32);
        small.setDevicePixelRatio(1.0);
        realSize.push_back(small);
    }
    realSize.push_back(res::appIcon().pixmap(QSize(16, 16), 1.0));
    ok &= save(QPixmap::fromImage(overview(realSize)), dir, QStringLiteral("overview"));
    return ok ? 0 : 1;
}
