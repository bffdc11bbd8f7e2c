#include "app/PreviewPane.h"

#include "platform/desktop/Widgets.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPdfDocument>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace selavia::app {
namespace {

using desktop::named;

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

// The pages one under the other, each drawn by the PDF module with its
// annotations: signatures' appearances, filled form fields, and whatever was
// laid over the page after signing. Qt 6.4's QPdfView draws pages without
// them, which would show another document than every viewer shows. Only
// the pages in sight are drawn.
class PdfPages : public QScrollArea {
public:
    PdfPages(QPdfDocument* document, std::function<void()> pageChanged)
        : document(document), pageChanged(std::move(pageChanged))
    {
        setObjectName(QStringLiteral("pdfPreview"));
        setAccessibleName(QStringLiteral("Visualização do documento"));
        setBackgroundRole(QPalette::Dark);
        setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        auto* sheet = new QWidget;
        auto* layout = new QVBoxLayout(sheet);
        layout->setSpacing(kPageSpacing);
        layout->setContentsMargins(kPageSpacing, kPageSpacing, kPageSpacing, kPageSpacing);
        QPalette paper = palette();
        paper.setColor(QPalette::Window, Qt::white);
        for (int page = 0; page < document->pageCount(); ++page) {
            auto* label = named(new QLabel, QStringLiteral("pdfPage%1").arg(page + 1).toLatin1());
            // White paper under the page, drawn or not yet: the view's
            // dark background is not the page's.
            label->setAutoFillBackground(true);
            label->setBackgroundRole(QPalette::Window);
            label->setPalette(paper);
            layout->addWidget(label, 0, Qt::AlignHCenter);
            pages.push_back(label);
        }
        setWidget(sheet);
        connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
            drawVisible();
            if (!jumping)
                followScroll();
        });
        connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { drawVisible(); });
        relayout();
    }

    int currentPage() const { return current; }
    void goTo(int page)
    {
        current = std::clamp(page, 0, int(pages.size()) - 1);
        jumping = true;
        verticalScrollBar()->setValue(pages[size_t(current)]->y() - kPageSpacing);
        jumping = false;
        pageChanged();
    }
    void zoomBy(qreal factor)
    {
        zoom = std::clamp(scale * factor, kMinZoom, kMaxZoom);
        fits = false;
        relayout();
    }
    void fitWidth()
    {
        fits = true;
        relayout();
    }
    // Pixels per point.
    qreal pageScale() const { return scale; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QScrollArea::resizeEvent(event);
        if (fits)
            relayout();
        else
            drawVisible();
    }

private:
    void relayout()
    {
        qreal widest = 1;
        for (int page = 0; page < int(pages.size()); ++page)
            widest = std::max(widest, document->pagePointSize(page).width());
        // The width without the horizontal bar, less the vertical one, which
        // more than a page always brings.
        const int room = maximumViewportSize().width() - 2 * kPageSpacing -
                         verticalScrollBar()->sizeHint().width();
        scale = fits ? std::max<qreal>(kMinZoom, room / widest) : zoom;
        for (int page = 0; page < int(pages.size()); ++page) {
            const QSize size = (document->pagePointSize(page) * scale).toSize().expandedTo({1, 1});
            if (pages[size_t(page)]->size() != size) {
                pages[size_t(page)]->setFixedSize(size);
                pages[size_t(page)]->setPixmap(QPixmap());
            }
        }
        widget()->adjustSize();
        drawVisible();
    }
    void drawVisible()
    {
        const QRect seen(-widget()->pos(), viewport()->size());
        const qreal ratio = devicePixelRatioF();
        QPdfDocumentRenderOptions options;
        options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
        for (int page = 0; page < int(pages.size()); ++page) {
            QLabel* label = pages[size_t(page)];
            if (!label->geometry().intersects(seen) || !label->pixmap().isNull())
                continue;
            QImage image = document->render(page, label->size() * ratio, options);
            image.setDevicePixelRatio(ratio);
            label->setPixmap(QPixmap::fromImage(image));
        }
    }
    // The page that fills the upper part of the view is the current one.
    void followScroll()
    {
        const int line = verticalScrollBar()->value() + viewport()->height() / 3;
        int page = 0;
        while (page + 1 < int(pages.size()) && pages[size_t(page + 1)]->y() <= line)
            ++page;
        if (page != current) {
            current = page;
            pageChanged();
        }
    }

    static constexpr int kPageSpacing = 8;
    QPdfDocument* document;
    std::function<void()> pageChanged;
    std::vector<QLabel*> pages;
    int current = 0;
    bool jumping = false;
    bool fits = true;
    qreal zoom = 1.0;
    qreal scale = 1.0;
};

class PdfPane : public Pane {
public:
    // Null with `failure` set when the bytes are not a PDF this module reads.
    static PdfPane* make(const QByteArray& content, QString* failure)
    {
        // From memory: the verified bytes, never a file a viewer may have changed.
        auto bytes = std::make_unique<QBuffer>();
        bytes->setData(content);
        bytes->open(QIODevice::ReadOnly);
        auto document = std::make_unique<QPdfDocument>();
        document->load(bytes.get());
        if (document->status() == QPdfDocument::Status::Ready && document->pageCount() > 0)
            return new PdfPane(std::move(bytes), std::move(document));
        const bool locked = document->error() == QPdfDocument::Error::IncorrectPassword ||
                            document->error() == QPdfDocument::Error::UnsupportedSecurityScheme;
        *failure = locked ? QStringLiteral("Não foi possível exibir este PDF: ele está protegido "
                                           "por senha.")
                          : QStringLiteral("Não foi possível exibir este PDF: ele está danificado "
                                           "ou em um formato não suportado.");
        return nullptr;
    }

    PdfPane(std::unique_ptr<QBuffer> bytes, std::unique_ptr<QPdfDocument> document)
        : bytes(std::move(bytes)), document(std::move(document))
    {
        view = new PdfPages(this->document.get(), [this] { updatePage(); });
        addView(view);
        connect(prevPage, &QPushButton::clicked, this,
                [this] { view->goTo(view->currentPage() - 1); });
        connect(nextPage, &QPushButton::clicked, this,
                [this] { view->goTo(view->currentPage() + 1); });
        connect(zoomIn, &QPushButton::clicked, this, [this] { view->zoomBy(kZoomStep); });
        connect(zoomOut, &QPushButton::clicked, this, [this] { view->zoomBy(1 / kZoomStep); });
        connect(fitWidth, &QPushButton::clicked, this, [this] { view->fitWidth(); });
        updatePage();
    }
    ~PdfPane() override
    {
        // The pages go before the document they draw.
        delete view;
    }

    bool print(QPrinter& printer) override { return printPdf(*document, printer); }

private:
    void updatePage()
    {
        const int page = view->currentPage();
        const int pages = document->pageCount();
        pageLabel->setText(QStringLiteral("Página %1 de %2").arg(page + 1).arg(pages));
        prevPage->setEnabled(page > 0);
        nextPage->setEnabled(page + 1 < pages);
    }

    // Declared first: destroyed after the document that reads it.
    std::unique_ptr<QBuffer> bytes;
    std::unique_ptr<QPdfDocument> document;
    PdfPages* view = nullptr;
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
