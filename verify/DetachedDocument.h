#pragma once

// A detached signature opened alone (a ".p7s" file): where its document is
// looked for before the user is asked for it.

#include "verify/ValidationResult.h"

#include <QString>

namespace selavia::verify {

// The document a detached signature names by its own file name, when that
// file is there: "contrato.pdf.p7s" signs "contrato.pdf" beside it (".p7s"
// in any case). Empty for any other name, or when no file is there.
QString documentBeside(const QString& signaturePath);

// Whether a load needs the document of a detached signature: a ".p7s" file
// read without one that holds none of its own. Attached kinds (.slv, .p7m)
// carry their document by definition: a detached one of those stays a
// failure.
bool needsDetachedDocument(const ValidationResult& result);

} // namespace selavia::verify
