#include "cli/ReportSupport.h"
#include "cli/VerifyCommand.h"

#include <QStringList>

// selavia-verify, with reports: started by selavia-verify for --report, so
// that the plain verification never loads the libraries reports need.
int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    return selavia::cli::runVerifyCommand(arguments, out, err, {}, &in, selavia::cli::pdfReports());
}
