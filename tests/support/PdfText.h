#pragma once

// A PDF read back as its reader would: its text, page by page, by poppler's
// pdftotext; and its fonts by pdffonts.

#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <vector>

namespace selavia::testing {

inline QString runPoppler(const QString& program, const QStringList& arguments)
{
    if (program.isEmpty() || program.endsWith(QLatin1String("NOTFOUND"))) {
        ADD_FAILURE() << "poppler-utils is missing (tools/bootstrap installs it)";
        return {};
    }
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60'000) || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The pages' texts, each with its blanks and line breaks folded to one blank.
inline QStringList pdfPages(const QString& pdfPath)
{
    QStringList pages =
        runPoppler(QStringLiteral(SELAVIA_PDFTOTEXT),
                   {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdfPath, QStringLiteral("-")})
            .split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    for (QString& page : pages)
        page = page.simplified();
    return pages;
}

inline QString pdfText(const QString& pdfPath)
{
    return pdfPages(pdfPath).join(QLatin1Char(' '));
}

// A word of a page's text layer where pdftotext finds it, in points from
// the page's top left corner.
struct PdfWord {
    QString text;
    QRectF box;
};
struct PdfPageWords {
    QSizeF size;
    std::vector<PdfWord> words;
};

inline std::vector<PdfPageWords> pdfWords(const QString& pdfPath)
{
    const QString xhtml = runPoppler(QStringLiteral(SELAVIA_PDFTOTEXT),
                                     {QStringLiteral("-bbox"), QStringLiteral("-enc"),
                                      QStringLiteral("UTF-8"), pdfPath, QStringLiteral("-")});
    static const QRegularExpression tag(
        QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" )re"
                       R"re(yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    std::vector<PdfPageWords> pages;
    for (const QRegularExpressionMatch& match : tag.globalMatch(xhtml)) {
        if (!match.captured(1).isEmpty()) {
            pages.push_back(
                {QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()), {}});
        } else if (!pages.empty()) {
            const QPointF from(match.captured(3).toDouble(), match.captured(4).toDouble());
            const QPointF to(match.captured(5).toDouble(), match.captured(6).toDouble());
            pages.back().words.push_back({match.captured(7), QRectF(from, to)});
        }
    }
    return pages;
}

// pdffonts's table: one line per font, "emb" the fifth column from the end.
inline QStringList pdfFonts(const QString& pdfPath)
{
    QStringList lines = runPoppler(QStringLiteral(SELAVIA_PDFFONTS), {pdfPath})
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.mid(2);
}

} // namespace selavia::testing
