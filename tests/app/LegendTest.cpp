#include "app/modLayout.h"
#include "app/zFrmLegenda.h"
#include "resources/Images.h"
#include "tests/support/Controls.h"
#include "tests/support/Printers.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using selavia::app::SetWindowTopMost;

TEST(LegendTest, RowsShowTheTreesOwnPicturesWithTheirTexts)
{
    QWidget document;
    document.setEnabled(false);
    auto* legend = new selavia::app::zFrmLegenda(&document);
    EXPECT_EQ(legend->windowTitle(), "Legenda");
    EXPECT_TRUE(legend->windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(legend->palette().color(QPalette::Window), QColor(Qt::white));
    const QStringList keys = {"cert_valid", "cert_invalid", "cert_noicp_valid",
                              "cert_noicp_invalid"};
    const QStringList headings = {
        "Certificado ICP-Brasil - Válido", "Certificado ICP-Brasil - Inválido",
        "Certificado Desconhecido - Válido", "Certificado Desconhecido - Inválido"};
    for (int i = 0; i < 4; ++i) {
        auto* image = legend->findChild<QLabel*>(QStringLiteral("Image%1").arg(i + 1));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->pixmap().toImage(),
                  selavia::resources::treeImage(keys[i]).pixmap(16, 16).toImage())
            << keys[i].toStdString();
        auto* heading = legend->findChild<QLabel*>(QStringLiteral("Label%1").arg(i + 1));
        ASSERT_NE(heading, nullptr);
        EXPECT_EQ(heading->text(), headings[i]);
        EXPECT_TRUE(heading->font().bold());
    }
    EXPECT_EQ(legend->findChild<QLabel*>("Label6")->text(), "Revogado ou Expirado");
    EXPECT_EQ(legend->findChild<QLabel*>("Label8")->text(),
              "Certificado não ICP-Brasil - Desconhecido e Inválido.");
    legend->show();
    legend->findChild<QPushButton*>("Command2")->click();
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
