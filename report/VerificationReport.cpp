#include "report/VerificationReport.h"

#include "report/ReportHtml.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFileInfo>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <vector>

namespace selavia::report {
namespace {

constexpr int kResolution = 300; // dots per inch of the page's coordinates
constexpr qreal kMarginMm = 18;
constexpr qreal kFooterPoints = 8;

const QString kTitle = QStringLiteral("Relatório de Verificação de Assinaturas");

QFont reportFont(qreal points, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    // No ligatures: "fi" stays two letters, so the text is found and
    // copied as it reads.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

int pointsToDots(qreal points)
{
    return qRound(points * kResolution / 72.0);
}

void drawFooter(QPainter& painter, const QRect& area, const QString& sum, int page, int pages)
{
    painter.save();
    painter.setFont(reportFont(kFooterPoints));
    painter.setPen(Qt::darkGray);
    painter.drawLine(area.topLeft(), area.topRight());
    const QRect text = area.adjusted(0, pointsToDots(3), 0, 0);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("SHA-256 do arquivo assinado: ") + sum);
    painter.drawText(text, Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("Página %1 de %2").arg(page).arg(pages));
    painter.restore();
}

// Where each page starts in the body laid out as one long page: at the top
// of the first line that would not fit whole on the page before. No line is
// ever cut in two, nor drawn on two pages where a reader would find its
// text twice.
std::vector<qreal> pageStarts(const QTextDocument& body, qreal pageHeight)
{
    std::vector<std::pair<qreal, qreal>> lines; // top, bottom
    for (QTextBlock block = body.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (int n = 0; layout != nullptr && n < layout->lineCount(); ++n) {
            const QTextLine line = layout->lineAt(n);
            const qreal top = layout->position().y() + line.y();
            lines.emplace_back(top, top + line.height());
        }
    }
    std::sort(lines.begin(), lines.end());
    std::vector<qreal> starts{0};
    for (const auto& [top, bottom] : lines) {
        if (bottom > starts.back() + pageHeight && top > starts.back())
            starts.push_back(top);
    }
    return starts;
}

void paint(QPdfWriter& writer, const verify::ValidationResult& document)
{
    QTextDocument body;
    body.documentLayout()->setPaintDevice(&writer);
    body.setDefaultFont(reportFont(9.5));
    body.setDefaultStyleSheet(QStringLiteral("h1 { font-size: 17pt; } h2 { font-size: 12.5pt; "
                                             "margin-top: 14px; } li { margin-bottom: 3px; }"));
    body.setHtml(reportHtml(document));

    QPainter painter(&writer);
    const QRect page = writer.pageLayout().paintRectPixels(kResolution);
    const int footerHeight = pointsToDots(kFooterPoints * 3);
    const qreal bodyHeight = page.height() - footerHeight;
    body.setTextWidth(page.width());
    const qreal length = body.size().height(); // lays the whole body out
    std::vector<qreal> starts = pageStarts(body, bodyHeight);
    const int pages = static_cast<int>(starts.size());
    starts.push_back(length);
    const QString sum = signedFileSumText(document);
    for (int n = 0; n < pages; ++n) {
        if (n > 0)
            writer.newPage();
        const qreal top = starts[static_cast<size_t>(n)];
        const qreal bottom = starts[static_cast<size_t>(n) + 1];
        painter.save();
        painter.translate(0, -top);
        // Inside the lines' bounds: a line that ends or starts right at a
        // boundary belongs to one page only.
        body.drawContents(&painter, QRectF(0, top + 0.5, page.width(), bottom - top - 1));
        painter.restore();
        drawFooter(painter, QRect(0, page.height() - footerHeight, page.width(), footerHeight), sum,
                   n + 1, pages);
    }
    painter.end();
}

} // namespace

QByteArray renderReport(const verify::ValidationResult& document)
{
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                         QPageLayout::Millimeter));
        writer.setTitle(kTitle + QStringLiteral(" — ") + QFileInfo(document.filePath).fileName());
        writer.setCreator(QStringLiteral("Selavia Reader"));
        paint(writer, document);
    }
    return pdf;
}

std::optional<fileinfo::FileError> writeReport(const verify::ValidationResult& document,
                                               const QString& path, fileinfo::Replace replace)
{
    const QByteArray pdf = renderReport(document);
    auto staged = fileinfo::StagedFile::create(path);
    if (auto* failure = std::get_if<fileinfo::FileError>(&staged))
        return *failure;
    fileinfo::StagedFile& file = std::get<fileinfo::StagedFile>(staged);
    if (std::optional<fileinfo::FileError> failure = file.write(pdf))
        return failure;
    return file.commit(path, replace);
}

QString reportFileName(const QString& signedFilePath)
{
    QString base = QFileInfo(signedFilePath).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("documento");
    return base + QStringLiteral("-relatorio.pdf");
}

} // namespace selavia::report
