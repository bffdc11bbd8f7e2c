#pragma once

// The report `selavia-verify` prints for people: the result, the signature
// tree, the CAdES pieces, revocation and each signer's verdict.

#include "verify/ValidationResult.h"

#include <QString>

namespace selavia::cli {

QString textReport(const verify::ValidationResult& result);

} // namespace selavia::cli
