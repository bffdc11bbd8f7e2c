#include "resources/Images.h"

#include "tests/support/Printers.h"
#include "verify/TreeKeys.h"

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <gtest/gtest.h>
#include <memory>

namespace {

namespace res = selavia::resources;
using res::Picture;

// Pixmaps need a GUI application. It runs at twice the pixel density so the
// tests also see that pictures are drawn for the screen, not blown up.
class GuiEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_SCALE_FACTOR", "2");
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[15] = "test_resources";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

[[maybe_unused]] testing::Environment* const kGui =
    testing::AddGlobalTestEnvironment(new GuiEnvironment);

// Share of pixels that are not fully transparent.
double coverage(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int visible = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            visible += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    return double(visible) / (image.width() * image.height());
}

TEST(TreeImages, EveryKeyDrawsItsOwnVisibleImageAt16)
{
    QList<QImage> drawn;
    for (const QString key : selavia::verify::keys::kImageKeys) {
        SCOPED_TRACE(key.toStdString());
        const QIcon icon = res::treeImage(key);
        ASSERT_FALSE(icon.isNull());
        const QPixmap pixmap = icon.pixmap(QSize(16, 16));
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(16, 16));
        EXPECT_EQ(pixmap.size(), QSize(32, 32)) << "not drawn for the pixel ratio";
        EXPECT_GT(coverage(pixmap), 0.2);
        // Two keys drawing the same picture means the resource list is wrong.
        const QImage image = pixmap.toImage();
        for (const QImage& other : drawn) {
            EXPECT_NE(image, other);
        }
        drawn.append(image);
    }
}

TEST(TreeImages, UnknownKeysGiveNullIcons)
{
    EXPECT_TRUE(res::treeImage("no_such_image").isNull());
    EXPECT_TRUE(res::treeImage("").isNull());
    // A picture that exists, but is not one of the tree's.
    EXPECT_TRUE(res::treeImage("tick").isNull());
    EXPECT_TRUE(res::treeImage("CERT_VALID").isNull());
    EXPECT_TRUE(res::treeImage("../images/tick").isNull());
}

TEST(Pictures, EveryPictureDrawsAtBothSizes)
{
    for (const Picture which : {Picture::Error, Picture::Tick, Picture::Exclamation, Picture::Alert,
                                Picture::AppIcon, Picture::Bullet, Picture::Link}) {
        for (const int size : {32, 16}) {
            SCOPED_TRACE(testing::Message() << "picture " << int(which) << " at " << size);
            const QPixmap pixmap = res::picture(which, size);
            ASSERT_FALSE(pixmap.isNull());
            EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(size, size));
            EXPECT_EQ(pixmap.size(), QSize(2 * size, 2 * size)) << "not drawn for the pixel ratio";
            EXPECT_GT(coverage(pixmap), 0.15);
        }
    }
    EXPECT_TRUE(res::picture(Picture::Tick, 0).isNull());
}

TEST(Pictures, StripDrawsOpaqueAtItsOwnSizeAndKeepsItsProportions)
{
    EXPECT_EQ(res::ownSize(Picture::Strip), QSize(152, 401));
    EXPECT_EQ(res::ownSize(Picture::Bullet), QSize(16, 16));
    const QPixmap strip = res::picture(Picture::Strip, res::ownSize(Picture::Strip));
    ASSERT_FALSE(strip.isNull());
    EXPECT_EQ(strip.deviceIndependentSize(), QSizeF(152, 401));
    EXPECT_EQ(strip.size(), QSize(304, 802)) << "not drawn for the pixel ratio";
    EXPECT_DOUBLE_EQ(coverage(strip), 1.0) << "the strip has no transparent parts";
    // Dark and coloured at the top, where the window shows it.
    const QColor top = strip.toImage().pixelColor(20, 20);
    EXPECT_LT(top.lightness(), 140);
    EXPECT_GT(top.hsvSaturation(), 80);
    // Asked for a square, the tall strip is narrowed rather than squashed.
    const QPixmap square = res::picture(Picture::Strip, 64);
    EXPECT_EQ(square.deviceIndependentSize(), QSizeF(64, 64));
    EXPECT_LT(coverage(square), 0.5);
    EXPECT_GT(coverage(square), 0.3);
    EXPECT_TRUE(res::picture(Picture::Strip, QSize(0, 401)).isNull());
}

TEST(Pictures, AppIconDrawsAtWindowAndDesktopSizes)
{
    const QIcon icon = res::appIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 48, 128}) {
        SCOPED_TRACE(size);
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(size, size));
        EXPECT_GT(coverage(pixmap), 0.3);
    }
}

} // namespace
