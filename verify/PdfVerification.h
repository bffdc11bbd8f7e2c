#pragma once

// A signed PDF verified and judged: each signature field's CMS over its
// byte range, each document time-stamp, the DSS as revocation evidence,
// and what every later revision changed.

#include "platform/signature/SignedData.h"
#include "verify/LoadOptions.h"
#include "verify/ValidationResult.h"

#include <QString>
#include <functional>

namespace selavia::verify {

// Whether the input is to be read as a PDF: it begins like one and its
// name is not one of the signed-message forms (a .slv holding a plain PDF
// keeps the message's error).
bool readAsPdf(signature::MessageInput& input, const QString& path);

struct PdfRun {
    const LoadOptions& options;
    QDateTime checkedAt;
    // Asked as each phase goes; false cancels.
    std::function<bool(LoadPhase, qint64 done, qint64 total)> going;
};

// Verifies every signature of the PDF and judges each, filling `result`:
// its signers, its `pdf` part, and the error when the file could not be
// read as a signed PDF. `input` is the whole file (summed by the caller).
void verifyPdf(signature::MessageInput& input, const PdfRun& run, ValidationResult& result);

} // namespace selavia::verify
