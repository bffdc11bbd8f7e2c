#include "app/PreviewPane.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfView>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace selavia::app {
namespace {

template <typename T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Decoding an image may allocate at most this (MiB): a few bytes can claim
// a picture of gigabytes, and the reader refuses past it.
constexpr int kImageAllocationLimit = 128;
// Pages are drawn for paper at no more than this, and no side longer than
// kMaxPageSide: a printer's 1200 dpi would take half a gigabyte a page.
constexpr qreal kMaxPrintDpi = 300;
constexpr int kMaxPageSide = 4096;
constexpr qreal kZoomStep = 1.25;
constexpr qreal kMinZoom = 0.1;
constexpr qreal kMaxZoom = 8.0;

// `size` as large as fits in `area`, centred there.
QRectF fitted(const QRectF& area, const QSizeF& size)
{
    const QSizeF scaled = size.scaled(area.size(), Qt::KeepAspectRatio);
    return {area.x() + (area.width() - scaled.width()) / 2,
            area.y() + (area.height() - scaled.height()) / 2, scaled.width(), scaled.height()};
}

QPushButton* toolButton(const char* name, const QString& text, const QString& accessibleName)
{
    auto* button = named(new QPushButton(text), name);
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    return button;
}

// One piece of paper per page, each page fitted to it.
bool printPdf(QPdfDocument& document, QPrinter& printer)
{
    QPainter painter;
    if (document.pageCount() <= 0 || !painter.begin(&printer))
        return false;
    const qreal dpi = std::min<qreal>(printer.resolution(), kMaxPrintDpi);
    // The signatures' appearances and the form's fields are annotations.
    QPdfDocumentRenderOptions options;
    options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
    for (int page = 0; page < document.pageCount(); ++page) {
        if (page > 0 && !printer.newPage())
            return false;
        const QSizeF points = document.pagePointSize(page);
        if (points.isEmpty())
            continue;
        QSizeF pixels = points * dpi / 72;
        if (std::max(pixels.width(), pixels.height()) > kMaxPageSide)
            pixels.scale(kMaxPageSide, kMaxPageSide, Qt::KeepAspectRatio);
        const QImage image = document.render(page, pixels.toSize(), options);
        painter.drawImage(fitted(painter.viewport(), points), image);
    }
    return painter.end();
}

bool printImage(const QImage& image, QPrinter& printer)
{
    QPainter painter;
    if (image.isNull() || !painter.begin(&printer))
        return false;
    painter.drawImage(fitted(painter.viewport(), image.size()), image);
    return painter.end();
}

// The toolbar over every kind of document; each kind hides what it lacks.
class Pane : public PreviewPane {
public:
    Pane()
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* tools = new QHBoxLayout;
        prevPage =
            toolButton("btnPrevPage", QStringLiteral("<"), QStringLiteral("Página anterior"));
        pageLabel = named(new QLabel, "lblPage");
        nextPage = toolButton("btnNextPage", QStringLiteral(">"), QStringLiteral("Próxima página"));
        zoomOut = toolButton("btnZoomOut", QStringLiteral("-"), QStringLiteral("Diminuir zoom"));
        zoomIn = toolButton("btnZoomIn", QStringLiteral("+"), QStringLiteral("Aumentar zoom"));
        fitWidth = toolButton("btnFitWidth", QStringLiteral("Ajustar à largura"),
                              QStringLiteral("Ajustar à largura"));
        printButton =
            toolButton("btnPrint", QStringLiteral("Imprimir…"), QStringLiteral("Imprimir"));
        for (QPushButton* button : {prevPage, nextPage, zoomOut, zoomIn})
            button->setFixedWidth(button->sizeHint().height() + 8);
        tools->addWidget(prevPage);
        tools->addWidget(pageLabel);
        tools->addWidget(nextPage);
        tools->addStretch(1);
        tools->addWidget(zoomOut);
        tools->addWidget(zoomIn);
        tools->addWidget(fitWidth);
        tools->addWidget(printButton);
        layout->addLayout(tools);
        connect(printButton, &QPushButton::clicked, this, &Pane::printAsked);
    }
    void setName(const QString& name) { documentName = name; }

protected:
    void showPages(bool shown)
    {
        prevPage->setVisible(shown);
        nextPage->setVisible(shown);
        pageLabel->setVisible(shown);
    }
    void showZoom(bool shown)
    {
        zoomIn->setVisible(shown);
        zoomOut->setVisible(shown);
        fitWidth->setVisible(shown);
    }
    void addView(QWidget* view) { static_cast<QVBoxLayout*>(layout())->addWidget(view, 1); }

    QPushButton* prevPage;
    QPushButton* nextPage;
    QLabel* pageLabel;
    QPushButton* zoomOut;
    QPushButton* zoomIn;
    QPushButton* fitWidth;
    QPushButton* printButton;

private:
    void printAsked()
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setDocName(documentName);
        QPrintDialog dialog(&printer, this);
        dialog.setWindowTitle(QStringLiteral("Imprimir Documento"));
        if (dialog.exec() == QDialog::Accepted)
            print(printer);
    }

    QString documentName;
};

class PdfPane : public Pane {
public:
    // Null with `failure` set when the bytes are not a PDF this module reads.
    static PdfPane* make(const QByteArray& content, QString* failure)
    {
        auto pane = std::make_unique<PdfPane>(content);
        const QPdfDocument& pdf = *pane->document;
        if (pdf.status() == QPdfDocument::Status::Ready && pdf.pageCount() > 0)
            return pane.release();
        const bool locked = pdf.error() == QPdfDocument::Error::IncorrectPassword ||
                            pdf.error() == QPdfDocument::Error::UnsupportedSecurityScheme;
        *failure = locked ? QStringLiteral("Não foi possível exibir este PDF: ele está protegido "
                                           "por senha.")
                          : QStringLiteral("Não foi possível exibir este PDF: ele está danificado "
                                           "ou em um formato não suportado.");
        return nullptr;
    }

    explicit PdfPane(const QByteArray& content)
    {
        // From memory: the verified bytes, never a file a viewer may have changed.
        bytes = new QBuffer(this);
        bytes->setData(content);
        bytes->open(QIODevice::ReadOnly);
        document = new QPdfDocument(this);
        document->load(bytes);
        view = named(new QPdfView(this), "pdfPreview");
        view->setAccessibleName(QStringLiteral("Visualização do documento"));
        view->setPageMode(QPdfView::PageMode::MultiPage);
        view->setZoomMode(QPdfView::ZoomMode::FitToWidth);
        view->setDocument(document);
        addView(view);
        connect(view->pageNavigator(), &QPdfPageNavigator::currentPageChanged, this,
                &PdfPane::updatePage);
        connect(prevPage, &QPushButton::clicked, this, [this] { step(-1); });
        connect(nextPage, &QPushButton::clicked, this, [this] { step(+1); });
        connect(zoomIn, &QPushButton::clicked, this, [this] { zoomBy(kZoomStep); });
        connect(zoomOut, &QPushButton::clicked, this, [this] { zoomBy(1 / kZoomStep); });
        connect(fitWidth, &QPushButton::clicked, this,
                [this] { view->setZoomMode(QPdfView::ZoomMode::FitToWidth); });
        updatePage();
    }

    bool print(QPrinter& printer) override { return printPdf(*document, printer); }

private:
    void updatePage()
    {
        const int page = view->pageNavigator()->currentPage();
        const int pages = document->pageCount();
        pageLabel->setText(QStringLiteral("Página %1 de %2").arg(page + 1).arg(pages));
        prevPage->setEnabled(page > 0);
        nextPage->setEnabled(page + 1 < pages);
    }
    void step(int by)
    {
        QPdfPageNavigator* navigator = view->pageNavigator();
        const int page = std::clamp(navigator->currentPage() + by, 0, document->pageCount() - 1);
        navigator->jump(page, QPointF(), navigator->currentZoom());
    }
    void zoomBy(qreal factor)
    {
        const qreal zoom = std::clamp(view->zoomFactor() * factor, kMinZoom, kMaxZoom);
        view->setZoomMode(QPdfView::ZoomMode::Custom);
        view->setZoomFactor(zoom);
    }

    QBuffer* bytes;
    QPdfDocument* document;
    QPdfView* view;
};

class ImagePane : public Pane {
public:
    static ImagePane* make(const QByteArray& content, QString* failure)
    {
        QByteArray bytes = content;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const QByteArray format = QImageReader::imageFormat(&buffer);
        QImageReader reader(&buffer, format);
        // The format was told from the bytes; no second guess by other readers.
        reader.setAutoDetectImageFormat(false);
        reader.setAllocationLimit(kImageAllocationLimit);
        reader.setAutoTransform(true);
        QImage image = reader.read();
        if (image.isNull()) {
            *failure = QStringLiteral("Não foi possível exibir esta imagem: ela está danificada "
                                      "ou é grande demais.");
            return nullptr;
        }
        return new ImagePane(std::move(image));
    }

    explicit ImagePane(QImage picture) : image(std::move(picture))
    {
        area = named(new QScrollArea, "imgPreviewArea");
        area->setAlignment(Qt::AlignCenter);
        area->setBackgroundRole(QPalette::Dark);
        label = named(new QLabel, "imgPreview");
        label->setAccessibleName(QStringLiteral("Visualização do documento"));
        area->setWidget(label);
        addView(area);
        // One picture: nothing to page through.
        showPages(false);
        connect(zoomIn, &QPushButton::clicked, this, [this] { zoomBy(kZoomStep); });
        connect(zoomOut, &QPushButton::clicked, this, [this] { zoomBy(1 / kZoomStep); });
        connect(fitWidth, &QPushButton::clicked, this, [this] {
            fitsWidth = true;
            showScaled();
        });
        showScaled();
    }

    bool print(QPrinter& printer) override { return printImage(image, printer); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        Pane::resizeEvent(event);
        if (fitsWidth)
            showScaled();
    }

private:
    void zoomBy(qreal factor)
    {
        if (fitsWidth) // from whatever fitting the width gave
            zoom = label->pixmap().width() / qreal(image.width());
        fitsWidth = false;
        zoom = std::clamp(zoom * factor, kMinZoom, kMaxZoom);
        showScaled();
    }
    void showScaled()
    {
        qreal scale = zoom;
        if (fitsWidth) {
            // The width the view has without scroll bars, less the vertical
            // one when the fitted picture is taller than the view: the same
            // fit whichever bars show now. A picture narrower than the view
            // stays at its own size.
            const QSize room = area->maximumViewportSize();
            scale = std::min<qreal>(1.0, room.width() / qreal(image.width()));
            if (image.height() * scale > room.height())
                scale = std::min<qreal>(
                    1.0, (room.width() - area->verticalScrollBar()->sizeHint().width()) /
                             qreal(image.width()));
        }
        const QSize size = (QSizeF(image.size()) * scale).toSize().expandedTo(QSize(1, 1));
        label->setPixmap(QPixmap::fromImage(
            image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
        label->resize(size);
    }

    QImage image;
    QScrollArea* area;
    QLabel* label;
    qreal zoom = 1.0;
    bool fitsWidth = true;
};

class TextPane : public Pane {
public:
    explicit TextPane(const QByteArray& content)
    {
        text = named(new QPlainTextEdit, "txtPreview");
        text->setAccessibleName(QStringLiteral("Visualização do documento"));
        text->setReadOnly(true);
        // Plain text only: markup shows as written.
        text->setPlainText(plainTextOf(content));
        addView(text);
        // Text reflows: no pages, no zoom, but it prints.
        showPages(false);
        showZoom(false);
    }

    bool print(QPrinter& printer) override
    {
        text->print(&printer);
        return printer.printerState() != QPrinter::Error;
    }

private:
    QPlainTextEdit* text;
};

} // namespace

} // namespace selavia::app

selavia::app::PreviewPane* selavia_make_preview_pane(selavia::app::PreviewKind kind,
                                                     const QByteArray& content, const QString& name,
                                                     QString* failure)
{
    using namespace selavia::app;
    Pane* pane = nullptr;
    switch (kind) {
    case PreviewKind::Pdf:
        pane = PdfPane::make(content, failure);
        break;
    case PreviewKind::Image:
        pane = ImagePane::make(content, failure);
        break;
    case PreviewKind::Text:
        pane = new TextPane(content);
        break;
    case PreviewKind::None:
        break;
    }
    if (pane != nullptr)
        pane->setName(name);
    return pane;
}
