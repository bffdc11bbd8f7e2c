#pragma once

// The verification report a lawyer files: what verify/ found about one
// signed file, as a PDF. It renders and decides nothing: the verdicts and
// their reasons are verify/'s.

#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "verify/ValidationResult.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace selavia::report {

// The report as PDF bytes: A4 pages, each numbered and footed with the
// signed file's SHA-256; fonts embedded, text selectable. Needs a
// QGuiApplication (the offscreen platform will do); may run on any thread.
QByteArray renderReport(const verify::ValidationResult& document);

// Renders the report and writes it to `path`: staged beside it and put in
// place whole under `replace`'s rule.
[[nodiscard]] std::optional<fileinfo::FileError>
writeReport(const verify::ValidationResult& document, const QString& path,
            fileinfo::Replace replace);

// "contrato-relatorio.pdf" for "/pasta/contrato.slv": the name a report of
// that signed file is given.
QString reportFileName(const QString& signedFilePath);

} // namespace selavia::report
