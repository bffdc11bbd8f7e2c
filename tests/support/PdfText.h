#pragma once

// A PDF read back as its reader would: its text, page by page, by poppler's
// pdftotext; and its fonts by pdffonts.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

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

// pdffonts's table: one line per font, "emb" the fifth column from the end.
inline QStringList pdfFonts(const QString& pdfPath)
{
    QStringList lines = runPoppler(QStringLiteral(SELAVIA_PDFFONTS), {pdfPath})
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.mid(2);
}

} // namespace selavia::testing
