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

// Drawn at `size` for the screen's pixel ratio, not blown up, and visible.
void expectDrawn(const QPixmap& pixmap, QSize size, double minCoverage)
{
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(size));
    EXPECT_EQ(pixmap.size(), 2 * size) << "not drawn for the pixel ratio";
    EXPECT_GT(coverage(pixmap), minCoverage);
}

TEST(TreeImages, EveryKeyDrawsItsOwnVisibleImageAt16AndNoOtherNameDrawsOne)
{
    QList<QImage> drawn;
    for (const QString key : selavia::verify::keys::kImageKeys) {
        SCOPED_TRACE(key.toStdString());
        const QPixmap pixmap = res::treeImage(key).pixmap(QSize(16, 16));
        expectDrawn(pixmap, QSize(16, 16), 0.2);
        // Two keys drawing the same picture means the resource list is wrong.
        EXPECT_FALSE(drawn.contains(pixmap.toImage()));
        drawn.append(pixmap.toImage());
    }
    // Among them pictures that exist, but are not the tree's.
    for (const QString name : {"no_such_image", "", "tick", "CERT_VALID", "../images/tick"})
        EXPECT_TRUE(res::treeImage(name).isNull()) << name.toStdString();
}

TEST(Pictures, EveryPictureAndTheAppIconDrawAtTheSizesTheyAreShownAt)
{
    for (const Picture which : {Picture::Error, Picture::Tick, Picture::Exclamation, Picture::Alert,
                                Picture::AppIcon, Picture::Bullet, Picture::Link}) {
        for (const int size : {32, 16}) {
            SCOPED_TRACE(testing::Message() << "picture " << int(which) << " at " << size);
            expectDrawn(res::picture(which, size), QSize(size, size), 0.15);
        }
    }
    EXPECT_TRUE(res::picture(Picture::Tick, 0).isNull());
    // The window's and the desktop's sizes.
    for (const int size : {16, 48, 128}) {
        SCOPED_TRACE(size);
        expectDrawn(res::appIcon().pixmap(QSize(size, size)), QSize(size, size), 0.3);
    }
}

TEST(Pictures, StripDrawsOpaqueAtItsOwnSizeAndKeepsItsProportions)
{
    const QPixmap strip = res::picture(Picture::Strip, res::ownSize(Picture::Strip));
    expectDrawn(strip, res::ownSize(Picture::Strip), 0.99);
    EXPECT_DOUBLE_EQ(coverage(strip), 1.0) << "the strip has no transparent parts";
    // Asked for a square, the tall strip is narrowed rather than squashed.
    const QPixmap square = res::picture(Picture::Strip, 64);
    EXPECT_EQ(square.deviceIndependentSize(), QSizeF(64, 64));
    EXPECT_LT(coverage(square), 0.5);
    EXPECT_GT(coverage(square), 0.3);
    EXPECT_TRUE(res::picture(Picture::Strip, QSize(0, 401)).isNull());
}

} // namespace
