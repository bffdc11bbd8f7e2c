#include "report/VerificationReport.h"

#include "fileinfo/PathText.h"
#include "report/ReportHtml.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>
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

// The footer on two lines of its own: the signed file's sum, whatever its
// width, never shares a line with the page number.
void drawFooter(QPainter& painter, const QRect& area, const QString& sum, int page, int pages)
{
    painter.save();
    painter.setFont(reportFont(kFooterPoints));
    painter.setPen(Qt::darkGray);
    painter.drawLine(area.topLeft(), area.topRight());
    const int lineHeight = painter.fontMetrics().lineSpacing();
    const QRect first(area.left(), area.top() + pointsToDots(3), area.width(), lineHeight);
    painter.drawText(first, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere,
                     QStringLiteral("SHA-256 do arquivo assinado: ") + sum);
    painter.drawText(first.translated(0, lineHeight), Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("Página %1 de %2").arg(page).arg(pages));
    painter.restore();
}

// One line of the body laid out as one long page.
struct BodyLine {
    QTextBlock block;
    int index = 0; // in its block's layout
    qreal top = 0, bottom = 0;
    bool heading = false;     // kept with what follows it
    bool breakBefore = false; // its block starts a page
    int section = -1;         // the line of the section heading it falls under
};

std::vector<BodyLine> bodyLines(const QTextDocument& body)
{
    std::vector<BodyLine> lines;
    int section = -1;
    for (QTextBlock block = body.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        const QTextBlockFormat format = block.blockFormat();
        const bool heading = format.headingLevel() > 0;
        if (format.headingLevel() == 2)
            section = static_cast<int>(lines.size());
        for (int n = 0; layout != nullptr && n < layout->lineCount(); ++n) {
            const QTextLine line = layout->lineAt(n);
            const qreal top = layout->position().y() + line.y();
            lines.push_back(
                {block, n, top, top + line.height(), heading,
                 n == 0 && (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore),
                 section});
        }
    }
    return lines;
}

// Where a page that overflows should end instead of at `end`: not inside a
// short paragraph, and never right after a heading.
std::size_t betterBreak(const std::vector<BodyLine>& lines, std::size_t start, std::size_t end)
{
    constexpr int kShortBlock = 12; // a chain entry's lines
    std::size_t at = end;
    const QTextBlock& block = lines[at].block;
    if (lines[at - 1].block == block && block.layout()->lineCount() <= kShortBlock)
        at -= static_cast<std::size_t>(lines[at].index);
    while (at > start + 1 && lines[at - 1].heading)
        --at;
    return at > start ? at : end;
}

struct Page {
    std::size_t first = 0, end = 0; // the body's lines it shows
};

// The pages: each holds whole lines, as many as fit; the first page has
// `firstHeight`, the others `laterHeight` (they give room to a
// continuation heading).
std::vector<Page> paginate(const std::vector<BodyLine>& lines, qreal firstHeight, qreal laterHeight)
{
    std::vector<Page> pages;
    for (std::size_t start = 0; start < lines.size();) {
        const qreal limit = lines[start].top + (pages.empty() ? firstHeight : laterHeight);
        std::size_t end = start + 1;
        while (end < lines.size() && lines[end].bottom <= limit && !lines[end].breakBefore)
            ++end;
        if (end < lines.size() && !lines[end].breakBefore)
            end = betterBreak(lines, start, end);
        pages.push_back({start, end});
        start = end;
    }
    if (pages.empty())
        pages.push_back({});
    return pages;
}

// "Signatário 2 (cont.)" over a page that goes on with a section begun before.
QString continuation(const std::vector<BodyLine>& lines, const Page& page)
{
    if (page.first == 0 || page.first >= lines.size())
        return {};
    const BodyLine& first = lines[page.first];
    if (first.section < 0 || static_cast<std::size_t>(first.section) == page.first)
        return {};
    return lines[static_cast<std::size_t>(first.section)].block.text() + QStringLiteral(" (cont.)");
}

// Each line is drawn on its page alone, line by line: drawing the document
// clipped to a page would also put the line before the clip into the PDF,
// invisible, where searching and copying still find it.
void drawLines(QPainter& painter, const std::vector<BodyLine>& lines, const Page& page, qreal top)
{
    if (page.first >= page.end)
        return;
    painter.save();
    painter.translate(0, top - lines[page.first].top);
    for (std::size_t n = page.first; n < page.end; ++n) {
        const QTextLayout* layout = lines[n].block.layout();
        layout->lineAt(lines[n].index).draw(&painter, layout->position());
    }
    painter.restore();
}

void paint(QPdfWriter& writer, const verify::ValidationResult& document)
{
    QTextDocument body;
    body.documentLayout()->setPaintDevice(&writer);
    body.setDefaultFont(reportFont(9.5));
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    body.setDefaultTextOption(wrapping);
    body.setDefaultStyleSheet(
        QStringLiteral("h1 { font-size: 17pt; } h2 { font-size: 12.5pt; "
                       "margin-top: 14px; } h3 { font-size: 10.5pt; "
                       "margin-top: 8px; margin-bottom: 2px; } h4 { font-size: 9.5pt; "
                       "margin-top: 4px; margin-bottom: 2px; }"));
    body.setHtml(reportHtml(document));

    QPainter painter(&writer);
    const QRect page = writer.pageLayout().paintRectPixels(kResolution);
    const int footerHeight = pointsToDots(kFooterPoints * 4);
    const QFont continuationFont = reportFont(9.5, true);
    const int continuationHeight = QFontMetrics(continuationFont, &writer).lineSpacing() * 3 / 2;
    const qreal bodyHeight = page.height() - footerHeight;
    body.setTextWidth(page.width());
    body.size(); // lays the whole body out
    const std::vector<BodyLine> lines = bodyLines(body);
    const std::vector<Page> pages = paginate(lines, bodyHeight, bodyHeight - continuationHeight);
    const QString sum = signedFileSumText(document);
    const int count = static_cast<int>(pages.size());
    for (int n = 0; n < count; ++n) {
        if (n > 0)
            writer.newPage();
        const Page& current = pages[static_cast<std::size_t>(n)];
        const QString heading = continuation(lines, current);
        if (!heading.isEmpty()) {
            painter.save();
            painter.setFont(continuationFont);
            painter.setPen(Qt::darkGray);
            painter.drawText(QRect(0, 0, page.width(), continuationHeight),
                             Qt::AlignLeft | Qt::AlignTop, heading);
            painter.restore();
        }
        drawLines(painter, lines, current, n > 0 ? continuationHeight : 0);
        drawFooter(painter, QRect(0, page.height() - footerHeight, page.width(), footerHeight), sum,
                   n + 1, count);
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
        writer.setTitle(kTitle + QStringLiteral(" — ") +
                        fileinfo::printableText(QFileInfo(document.filePath).fileName()));
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
