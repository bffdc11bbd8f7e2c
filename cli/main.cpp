#include "cli/VerifyCommand.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return selavia::cli::runVerifyCommand(QCoreApplication::arguments().mid(1), out, err);
}
