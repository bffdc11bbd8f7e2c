#include "cli/ReportSupport.h"
#include "cli/VerifyCommand.h"
// selavia-verify, with reports: started by selavia-verify for --report, so
// that the plain verification never loads the libraries reports need.
int main(int argc, char* argv[])
{
    return selavia::cli::runOnStandardStreams(selavia::cli::argumentsOf(argc, argv),
                                              selavia::cli::pdfReports());
}
