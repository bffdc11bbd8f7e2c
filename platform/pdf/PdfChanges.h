#pragma once

// What each revision after a signed one changed, found by reading each
// revision as the file was when it was written and comparing consecutive
// ones object by object.

#include "platform/pdf/PdfFacts.h"
#include "platform/pdf/PdfStructure.h"
#include "platform/signature/SignedData.h"

#include <vector>

namespace selavia::pdf {

// The changes of revisions `firstSigned` + 1 onwards (revisions from 1),
// and the bytes after the last revision. Throws PdfError.
std::vector<PdfChange> changesAfter(signature::MessageInput& input,
                                    const std::vector<RevisionEnd>& ends, int firstSigned);

} // namespace selavia::pdf
