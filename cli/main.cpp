#include "cli/VerifyCommand.h"

#include <QByteArray>
#include <QStringList>
#include <climits>
#include <cstdio>
#include <unistd.h>

namespace {

// The program that writes reports: installed beside the libraries'
// programs, or in the same folder in the build tree. Looked for by the
// bytes of the names, whatever folder the program sits in.
QByteArray reportProgram()
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return {};
    const QByteArray path(self, length);
    const QByteArray folder = path.left(path.lastIndexOf('/') + 1);
    for (const QByteArray& candidate :
         {QByteArray(SELAVIA_REPORT_PROGRAM_FROM_BIN), QByteArray("selavia-verify-report")}) {
        const QByteArray program = folder + candidate;
        if (::access(program.constData(), X_OK) == 0)
            return program;
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
        const QByteArray program = reportProgram();
        if (!program.isEmpty())
            ::execv(program.constData(), argv);
    }
    return selavia::cli::runOnStandardStreams(arguments);
}
