#pragma once

// --report as the report library writes it, for the program that links it.

#include "cli/VerifyCommand.h"

namespace selavia::cli {

ReportSupport pdfReports();

} // namespace selavia::cli
