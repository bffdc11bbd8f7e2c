#pragma once

// Reads a PDF's signatures, document time-stamps, DSS and the changes made
// after the first signed revision, with qpdf.

#include "platform/pdf/PdfFacts.h"
#include "platform/signature/SignedData.h"

#include <QByteArrayView>

namespace selavia::pdf {

// Whether these first bytes of a file are a PDF's ("%PDF-" within the
// first kilobyte, as readers allow).
bool looksLikePdf(QByteArrayView head);

// Everything PdfDocument holds. Bounded in memory whatever the file's size:
// only the structure is read, never the page streams but those an overlay
// check needs. Throws PdfError.
PdfDocument readPdf(signature::MessageInput& input);

} // namespace selavia::pdf
