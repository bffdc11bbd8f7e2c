#include "cli/VerifyCommand.h"

#include <QStringList>
#include <cstdio>

// No QCoreApplication: the command needs no event loop, and leaving it out
// keeps the start-up of a short verification close to OpenSSL's own.
int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return selavia::cli::runVerifyCommand(arguments, out, err);
}
