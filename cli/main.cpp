#include "cli/VerifyCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

namespace {

// The program that writes reports: installed beside the libraries'
// programs, or in the same folder in the build tree.
QString reportProgram()
{
    const QString folder = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).path();
    for (const QString& candidate : {QStringLiteral(SELAVIA_REPORT_PROGRAM_FROM_BIN),
                                     QStringLiteral("selavia-verify-report")}) {
        const QString path = QDir(folder).filePath(candidate);
        if (QFileInfo(path).isExecutable())
            return QDir::cleanPath(path);
    }
    return {};
}

} // namespace

// No QCoreApplication, and no QtGui: the command needs no event loop, and
// leaving them out keeps the start-up of a short verification close to
// OpenSSL's own. --report runs the program that links them instead.
int main(int argc, char* argv[])
{
    const QStringList arguments = selavia::cli::argumentsOf(argc, argv);
    if (selavia::cli::asksForReport(arguments)) {
        const QByteArray program = QFile::encodeName(reportProgram());
        if (!program.isEmpty())
            ::execv(program.constData(), argv);
    }
    return selavia::cli::runOnStandardStreams(arguments);
}
