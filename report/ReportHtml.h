#pragma once

// The report's body as rich text for QTextDocument, in the order the report
// tells it: the check, the signed file, the original document, the file's
// verdict, then each signer.

#include "verify/ValidationResult.h"

#include <QColor>
#include <QString>

namespace selavia::report {

QString reportHtml(const verify::ValidationResult& result);

// The colour a verdict is written in.
QColor verdictColour(verify::Verdict verdict);

// The signed file's SHA-256 as the footer tells it.
QString signedFileSumText(const verify::ValidationResult& result);

} // namespace selavia::report
