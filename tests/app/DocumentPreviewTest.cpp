#include "app/DocumentPreview.h"

#include "DocumentWindowFixture.h"
#include "app/FrmOpen.h"
#include "tests/support/Controls.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Fixtures.h"
#include "tools/fixtures/PdfFixtures.h"

#include <QAbstractScrollArea>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPdfDocument>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace selavia::testing;
using selavia::app::DocumentPreview;
using selavia::app::FrmOpen;
using selavia::app::PreviewKind;

namespace pdfx = selavia::fixtures::pdf;

namespace selavia::app {
// Failures name the kind.
void PrintTo(PreviewKind kind, std::ostream* out)
{
    const char* names[] = {"None", "Pdf", "Image", "Text"};
    *out << names[static_cast<int>(kind)];
}
} // namespace selavia::app

namespace {

constexpr int kPreviewTab = 3;

QByteArray pngOf(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// White with a black block: what a shown page or picture must keep.
QImage drawing(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(width / 4, height / 4, width / 2, height / 2, Qt::black);
    return image;
}

// Dark, opaque pixels: ink, not paper or an empty background.
int inkIn(const QImage& image)
{
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            ink += qAlpha(pixel) > 128 && qGray(pixel) < 100 ? 1 : 0;
        }
    }
    return ink;
}

quint32 crc32(QByteArrayView bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG whose header claims `width` × `height` RGBA pixels, with a few bytes
// of data: a decoder that believed it would ask for gigabytes.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray chunk("IHDR");
    chunk.resize(4 + 13);
    qToBigEndian(width, chunk.data() + 4);
    qToBigEndian(height, chunk.data() + 8);
    chunk[12] = 8; // bits per sample
    chunk[13] = 6; // RGBA
    chunk[14] = chunk[15] = chunk[16] = 0;
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    char length[4], crc[4];
    qToBigEndian<quint32>(13, length);
    qToBigEndian(crc32(chunk), crc);
    png.append(length, 4).append(chunk).append(crc, 4);
    return png + QByteArray(64, '\0');
}

QPrinter* pdfPrinter(QPrinter& printer, const QString& path)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    return &printer;
}

int pagesOf(const QString& pdfPath)
{
    QPdfDocument document;
    return document.load(pdfPath) == QPdfDocument::Error::None ? document.pageCount() : -1;
}

// The preview on its own, beside the two buttons a window would give it.
struct LonePreview {
    QPushButton view{QStringLiteral("Visualizar")};
    QPushButton extract{QStringLiteral("Extrair")};
    DocumentPreview preview{&view, &extract};

    LonePreview(std::optional<QByteArray> content, const QString& name, qint64 size = -1)
    {
        const qint64 known = content ? content->size() : size;
        preview.setDocument(std::move(content), known, name);
        preview.resize(600, 500);
        preview.show();
    }
    template <typename T = QWidget> T* control(const char* name) const
    {
        return selavia::testing::control<T>(&preview, name);
    }
};

class DocumentPreviewTest : public DocumentWindowFixture {
protected:
    FrmOpen& openSigned(const fx::Bytes& content, const std::string& documentName)
    {
        return open(fx::makeSignedMessage(icpMessage(icpSigner(), documentName, content)),
                    "contrato.slv");
    }
    void showPreview() const
    {
        control<QTabWidget>("Tabs")->setCurrentIndex(kPreviewTab);
        QCoreApplication::processEvents();
    }
    template <typename T = QWidget> T* control(const char* name) const
    {
        return selavia::testing::control<T>(window_.get(), name);
    }
};

} // namespace

TEST(PreviewKind, IsToldFromTheBytesBeforeTheName)
{
    const QByteArray png = pngOf(drawing(8, 8));
    struct Row {
        const char* what;
        QByteArray content;
        QString name;
        PreviewKind kind;
    };
    const Row rows[] = {
        {"pdf", "%PDF-1.7\n...", "contrato.pdf", PreviewKind::Pdf},
        {"pdf under another name", "%PDF-1.4\n...", "foto.jpg", PreviewKind::Pdf},
        {"pdf header after junk", QByteArray(900, ' ') + "%PDF-1.4", "a", PreviewKind::Pdf},
        {"header too late: not drawn, its bytes are text", QByteArray(1100, ' ') + "%PDF-1.4",
         "a.bin", PreviewKind::Text},
        {"png", png, "foto.png", PreviewKind::Image},
        {"png named as text", png, "notas.txt", PreviewKind::Image},
        {"text", "Cláusula primeira", "notas.txt", PreviewKind::Text},
        {"text without a name", "Cláusula primeira\n", "contrato", PreviewKind::Text},
        {"svg: its source, never drawn", "<svg xmlns='http://www.w3.org/2000/svg'/>", "a.svg",
         PreviewKind::Text},
        {"text name over binary", QByteArray("abc\0def", 7), "notas.txt", PreviewKind::None},
        {"pdf name over text", "não é um PDF", "contrato.pdf", PreviewKind::None},
        {"zip", QByteArray("PK\x03\x04\x14\0\0\0", 8), "planilha.xlsx", PreviewKind::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(selavia::app::previewKindOf(row.content, row.name), row.kind);
    }
}

TEST(PreviewText, IsUtf8WhenValidElseLatin1)
{
    const std::pair<QByteArray, QString> rows[] = {
        {"a\xc3\xa7\xc3\xa3o", QStringLiteral("ação")},
        {"a\xe7\xe3o", QStringLiteral("ação")},
        // Cut in the middle of a character: not UTF-8.
        {"a\xc3", QStringLiteral("a\u00c3")},
        {"\xef\xbb\xbfsem BOM", QStringLiteral("sem BOM")},
    };
    for (const auto& [bytes, text] : rows)
        EXPECT_EQ(selavia::app::plainTextOf(bytes), text) << bytes.toHex().toStdString();
}

TEST_F(DocumentPreviewTest, APdfIsBuiltWhenItsTabIsShownAndPagesThrough)
{
    const pdfx::Pdf document = pdfx::makeDocument({.pages = 2, .image = true});
    openSigned(document.bytes, "contrato.pdf");
    QTabWidget* tabs = control<QTabWidget>("Tabs");
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(kPreviewTab), "Visualização");
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(window_->findChild<QWidget*>("pdfPreview"), nullptr) << "not before it is shown";

    showPreview();
    auto* view = control<QAbstractScrollArea>("pdfPreview");
    EXPECT_EQ(control<QLabel>("lblPage")->text(), "Página 1 de 2");
    EXPECT_FALSE(control("btnPrevPage")->isEnabled());
    QTest::mouseClick(control<QPushButton>("btnNextPage"), Qt::LeftButton);
    EXPECT_EQ(control<QLabel>("lblPage")->text(), "Página 2 de 2");
    EXPECT_FALSE(control("btnNextPage")->isEnabled());
    EXPECT_TRUE(view->viewport()->rect().contains(
        control("pdfPage2")->mapTo(view->viewport(), QPoint(0, control("pdfPage2")->height() / 4))))
        << "the second page is in sight";
    QTest::mouseClick(control<QPushButton>("btnPrevPage"), Qt::LeftButton);
    EXPECT_EQ(control<QLabel>("lblPage")->text(), "Página 1 de 2");
    EXPECT_GT(inkIn(view->viewport()->grab().toImage()), 100) << "the page is drawn";

    QLabel* page = control<QLabel>("pdfPage1");
    const int fitted = page->width();
    EXPECT_LT(fitted, view->viewport()->width()) << "the page fits the view's width";
    QTest::mouseClick(control<QPushButton>("btnZoomIn"), Qt::LeftButton);
    EXPECT_GT(page->width(), fitted);
    QTest::mouseClick(control<QPushButton>("btnFitWidth"), Qt::LeftButton);
    EXPECT_EQ(page->width(), fitted);
    for (const char* name :
         {"btnPrevPage", "btnNextPage", "btnZoomIn", "btnZoomOut", "btnFitWidth", "btnPrint"})
        EXPECT_FALSE(control(name)->accessibleName().isEmpty()) << name;
    EXPECT_EQ(control<QPushButton>("btnPrint")->text(), "Imprimir…");

    // Scrolling tells the page in sight too.
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    EXPECT_EQ(control<QLabel>("lblPage")->text(), "Página 2 de 2");
    view->verticalScrollBar()->setValue(0);
    EXPECT_EQ(control<QLabel>("lblPage")->text(), "Página 1 de 2");
}

// What lies over a page after signing shows as every viewer shows it: an
// opaque box over the line of text hides that line here too.
TEST_F(DocumentPreviewTest, APdfIsShownWithItsAnnotations)
{
    const pdfx::Pdf plain = pdfx::makeDocument({.pages = 1});
    const pdfx::Pdf covered =
        pdfx::addAnnotation(plain, {.kind = pdfx::AnnotationKind::Square, .opaque = true});
    std::vector<int> ink;
    for (const pdfx::Pdf* file : {&plain, &covered}) {
        LonePreview lone(QByteArray::fromStdString(file->bytes), "contrato.pdf");
        ASSERT_EQ(lone.preview.kind(), PreviewKind::Pdf);
        ink.push_back(inkIn(lone.control<QLabel>("pdfPage1")->pixmap().toImage()));
    }
    EXPECT_GT(ink[0], 0);
    EXPECT_LT(ink[1], ink[0]);
}

TEST_F(DocumentPreviewTest, PrintingAPdfGivesOnePieceOfPaperPerPageWithThePageOnIt)
{
    const pdfx::Pdf document = pdfx::makeDocument({.pages = 3, .image = true});
    LonePreview lone(QByteArray::fromStdString(document.bytes), "contrato.pdf");
    ASSERT_EQ(lone.preview.kind(), PreviewKind::Pdf);
    QTemporaryDir out;
    const QString path = out.filePath("impresso.pdf");
    QPrinter printer(QPrinter::HighResolution);
    ASSERT_TRUE(lone.preview.print(*pdfPrinter(printer, path)));
    EXPECT_EQ(pagesOf(path), 3);
    QPdfDocument printed;
    ASSERT_EQ(printed.load(path), QPdfDocument::Error::None);
    EXPECT_GT(inkIn(printed.render(0, QSize(300, 424))), 20);
}

// The file itself is the verified document: the preview shows what the
// signatures and the verdict speak of, a page added after them included.
TEST_F(DocumentPreviewTest, ASignedPdfFileIsPreviewedAsTheWholeFileThatWasVerified)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::SignSpec spec;
    spec.signer = {.cert = icpSigner()};
    spec.chain = {icp.intermediate, icp.root};
    spec.subFilter = pdfx::SubFilter::CadesDetached;
    const pdfx::Pdf signedFile = pdfx::sign(pdfx::makeDocument({.pages = 1}), spec);
    const pdfx::Pdf extended = pdfx::addPage(signedFile);
    for (const auto& [file, pages] : {std::pair{&signedFile, 1}, std::pair{&extended, 2}}) {
        SCOPED_TRACE(pages);
        open(file->bytes, "contrato-assinado.pdf");
        ASSERT_TRUE(control("Tabs")->isVisible());
        showPreview();
        EXPECT_EQ(control<QLabel>("lblPage")->text(), QStringLiteral("Página 1 de %1").arg(pages));
    }
}

TEST_F(DocumentPreviewTest, AnImageIsShownFittedZoomsAndPrints)
{
    openSigned(pngOf(drawing(1600, 400)).toStdString(), "planta.png");
    window_->resize(700, 600);
    showPreview();
    auto* image = control<QLabel>("imgPreview");
    ASSERT_FALSE(image->pixmap().isNull());
    const int fitted = image->pixmap().width();
    EXPECT_LT(fitted, 1600) << "a wide picture fits the view's width";
    EXPECT_GT(inkIn(image->pixmap().toImage()), 0);
    EXPECT_FALSE(control("btnPrevPage")->isVisible()) << "one picture, no pages";
    QTest::mouseClick(control<QPushButton>("btnZoomIn"), Qt::LeftButton);
    EXPECT_GT(image->pixmap().width(), fitted);
    QTest::mouseClick(control<QPushButton>("btnZoomOut"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>("btnZoomOut"), Qt::LeftButton);
    EXPECT_LT(image->pixmap().width(), fitted);
    QTest::mouseClick(control<QPushButton>("btnFitWidth"), Qt::LeftButton);
    EXPECT_EQ(image->pixmap().width(), fitted);

    QTemporaryDir out;
    QPrinter printer;
    ASSERT_TRUE(window_->findChild<DocumentPreview*>()->print(
        *pdfPrinter(printer, out.filePath("imagem.pdf"))));
    EXPECT_EQ(pagesOf(out.filePath("imagem.pdf")), 1);
}

TEST_F(DocumentPreviewTest, TextIsShownReadOnlyAndNeverAsRichText)
{
    const std::pair<fx::Bytes, QString> rows[] = {
        {"<b>Cláusula</b> <img src=\"http://example.com/x.png\">\n",
         "<b>Cláusula</b> <img src=\"http://example.com/x.png\">\n"},
        {"Cl\xe1usula em Latin-1\n", "Cláusula em Latin-1\n"},
    };
    for (const auto& [content, shown] : rows) {
        SCOPED_TRACE(content);
        openSigned(content, "notas.txt");
        showPreview();
        auto* text = control<QPlainTextEdit>("txtPreview");
        EXPECT_TRUE(text->isReadOnly());
        EXPECT_EQ(text->toPlainText(), shown);
    }
}

TEST_F(DocumentPreviewTest, WhatCannotBeShownSaysWhyAndOffersTheWindowsButtons)
{
    struct Row {
        const char* what;
        std::optional<QByteArray> content;
        QString name;
        QString says;
    };
    QByteArray truncatedPng = pngOf(drawing(64, 64));
    truncatedPng.truncate(truncatedPng.size() / 2);
    const Row rows[] = {
        {"over the cap", std::nullopt, "contrato.pdf", "mais do que os 64,0 MB"},
        {"broken pdf", "%PDF-1.4\nnada aqui\n%%EOF\n", "contrato.pdf",
         "Não foi possível exibir este PDF"},
        {"cut image", truncatedPng, "foto.png", "Não foi possível exibir esta imagem"},
        {"image claiming gigabytes", pngClaiming(60000, 60000), "foto.png",
         "Não foi possível exibir esta imagem"},
        {"no preview for the type", QByteArray("PK\x03\x04\x14\0\0\0", 8), "planilha.xlsx",
         "Não há visualização disponível para este tipo de documento"},
        {"long text", QByteArray(DocumentPreview::kTextCap + 1024 * 1024, 'a'), "longo.txt",
         "mais do que os 8,0 MB"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LonePreview lone(row.content, row.name, 100LL * 1024 * 1024);
        EXPECT_EQ(lone.preview.kind(), PreviewKind::None);
        const QString said = lone.control<QLabel>("lblPreview")->text();
        EXPECT_TRUE(said.contains(row.says)) << said.toStdString();
        EXPECT_TRUE(said.contains("\"Extrair Documento\"")) << said.toStdString();
        EXPECT_TRUE(lone.control("btnPreviewExtract")->isVisible());
        EXPECT_EQ(lone.preview.findChild<QWidget*>("previewPane"), nullptr);
        QPrinter printer;
        EXPECT_FALSE(lone.preview.print(printer)) << "nothing to print";
    }
}

TEST_F(DocumentPreviewTest, TheOfferedButtonsAreTheWindowsOwn)
{
    openSigned("PK\x03\x04 planilha", "planilha.xlsx");
    showPreview();
    auto* view = control<QPushButton>("btnPreviewView");
    ASSERT_TRUE(view->isEnabled());
    QTest::mouseClick(view, Qt::LeftButton);
    ASSERT_EQ(desktop_.opened.size(), 1u);
    EXPECT_EQ(desktop_.opened[0].toLocalFile(), window_->tempCopyPath());

    // Without a name the window's buttons wait for one, and so do these.
    openSigned("PK\x03\x04 planilha", "");
    showPreview();
    EXPECT_FALSE(control("btnPreviewView")->isEnabled());
    EXPECT_FALSE(control("btnPreviewExtract")->isEnabled());
    control<QLineEdit>("Text15")->setText("planilha.xlsx");
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
    EXPECT_TRUE(control("btnPreviewView")->isEnabled());
    EXPECT_TRUE(control("btnPreviewExtract")->isEnabled());
}
