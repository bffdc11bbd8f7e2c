#pragma once

// `selavia-verify --json`: one result as one JSON object, its members named
// for scripts and kept stable.

#include "verify/ValidationResult.h"

#include <QJsonObject>

namespace selavia::cli {

QJsonObject jsonReport(const verify::ValidationResult& result);

} // namespace selavia::cli
