#include "app/modLayout.h"
#include "app/zFrmLegenda.h"
#include "resources/Images.h"
#include "tests/support/Controls.h"
#include "tests/support/Printers.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using selavia::app::SetWindowTopMost;
using selavia::testing::control;

TEST(LegendTest, EachRowShowsTheTreesOwnPictureOfItsClassAndOkGivesTheWindowBack)
{
    QWidget document;
    document.setEnabled(false);
    auto* legend = new selavia::app::zFrmLegenda(&document);
    // Row order is the order of the classes.
    const QStringList keys = {"cert_valid", "cert_invalid", "cert_noicp_valid",
                              "cert_noicp_invalid"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(keys[i].toStdString());
        const auto* image =
            control<QLabel>(legend, qPrintable(QStringLiteral("Image%1").arg(i + 1)));
        EXPECT_EQ(image->pixmap().toImage(),
                  selavia::resources::treeImage(keys[i]).pixmap(16, 16).toImage());
    }
    // gov.br signers share the non-ICP pictures: one line tells what they are.
    EXPECT_TRUE(control<QLabel>(legend, "LabelGovBr")
                    ->text()
                    .startsWith(QStringLiteral("Assinatura eletrônica avançada (gov.br):")));
    legend->show();
    control<QPushButton>(legend, "Command2")->click();
    EXPECT_TRUE(document.isEnabled());
}

TEST(SetWindowTopMostTest, OnlyExactTrueSetsTheBandAndNothingElseChanges)
{
    QWidget shown;
    shown.setGeometry(120, 130, 300, 200);
    shown.show();
    const QRect before = shown.geometry();
    SetWindowTopMost(&shown, selavia::app::kTrue);
    EXPECT_TRUE(shown.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(shown.isVisible());
    EXPECT_EQ(shown.geometry(), before);

    SetWindowTopMost(&shown, 0);
    EXPECT_FALSE(shown.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(shown.isVisible());
    EXPECT_EQ(shown.geometry(), before);

    SetWindowTopMost(&shown, selavia::app::kTrue);
    SetWindowTopMost(&shown, 1); // a true that is not the canonical one
    EXPECT_FALSE(shown.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    QWidget hidden;
    SetWindowTopMost(&hidden, selavia::app::kTrue);
    EXPECT_TRUE(hidden.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(hidden.isVisible());
}
