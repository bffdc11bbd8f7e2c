#include "cli/ReportSupport.h"

#include "report/OffscreenGui.h"
#include "report/VerificationReport.h"

namespace selavia::cli {

ReportSupport pdfReports()
{
    ReportSupport reports;
    reports.fileName = report::reportFileName;
    reports.write = report::writeReport;
    reports.prepare = [] { return std::make_shared<report::OffscreenGui>(); };
    return reports;
}

} // namespace selavia::cli
