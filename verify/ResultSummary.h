#pragma once

// What a verdict needs beside it so that it never reads against the rest
// of the result: an Aprovado whose signers are not all valid ICP-Brasil
// signers says which are not.

#include "verify/ValidationResult.h"

#include <QString>

namespace selavia::verify {

// "(assinatura válida; o signatário não é ICP-Brasil)" and the like, to
// follow the verdict's word; empty when the verdict needs nothing beside it.
QString verdictQualifier(const ValidationResult& result);

// The file's verdict line with its qualifier after the verdict's word:
// "Resultado: Aprovado (assinatura válida; o signatário não é ICP-Brasil)".
QString verdictHeadline(const ValidationResult& result);

} // namespace selavia::verify
