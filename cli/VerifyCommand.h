#pragma once

// `selavia-verify`: what the verify core found, for scripts and people. It
// renders the ValidationResult and judges nothing of its own.

#include "cli/ExitStatus.h"
#include "cli/InputLines.h"
#include "cli/JsonReport.h"
#include "cli/TextReport.h"
#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "verify/LoadOptions.h"
#include "verify/ValidationResult.h"

#include <QStringList>
#include <QTextStream>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace selavia::cli {

// A result's exit status, before anything it asked to write.
int exitStatusOf(const verify::ValidationResult& result);

// What writing verification reports takes. The report needs QtGui, which
// the plain verification never loads: the program that writes reports is
// another (cli/ReportSupport.h), started for --report alone.
struct ReportSupport {
    // The report's name for a signed file.
    std::function<QString(const QString& signedPath)> fileName;
    std::function<std::optional<fileinfo::FileError>(const verify::ValidationResult&,
                                                     const QString& path, fileinfo::Replace)>
        write;
    // Makes what rendering needs, kept while reports are written.
    std::function<std::shared_ptr<void>()> prepare;
};

// Makes the options files are verified with. Called once, and only when
// there is something to verify: the system's trust store is not read for
// --help, --version or a usage error. Empty: the system's defaults.
using LoadOptionsSource = std::function<verify::LoadOptions()>;

// What the command knows of where it runs beyond its streams.
struct Terminal {
    // Standard error is a terminal: a wait on the network is told there.
    bool errIsTerminal = false;
    // What waits are timed by; empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
};

// Runs the command on `arguments` (without the program name), writing the
// report to `out` and problems to `err`; returns the exit status. `--offline`
// forbids requests whatever the options say. The file "-" stands for the
// paths that `in` gives, one per line, read as the files are verified.
// Without `reports`, --report fails.
int runVerifyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err,
                     const LoadOptionsSource& loadOptions = {}, const ByteSource& in = {},
                     const ReportSupport& reports = {}, const Terminal& terminal = {});

// The program's arguments, without its name, as the command takes them: a
// name that is not UTF-8 keeps its bytes (fileinfo/PathText.h).
QStringList argumentsOf(int argc, char* argv[]);
// runVerifyCommand on the process's standard input, output and error.
int runOnStandardStreams(const QStringList& arguments, const ReportSupport& reports = {});

// Whether `arguments` are a valid call that writes a report.
bool asksForReport(const QStringList& arguments);

} // namespace selavia::cli
