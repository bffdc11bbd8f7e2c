#pragma once

// `selavia-verify`: what the verify core computes, for scripts and people.

#include "verify/LoadOptions.h"
#include "verify/VerifiedDocument.h"

#include <QJsonObject>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <memory>
#include <optional>

namespace selavia::cli {

namespace exit_status {
inline constexpr int kSignaturesOk = 0;
inline constexpr int kNotAllValid = 1;
inline constexpr int kVerificationFailed = 2;
inline constexpr int kUsage = 64;
inline constexpr int kCannotWrite = 73;
} // namespace exit_status

// What writing verification reports takes. The report needs QtGui, which
// the plain verification never loads: the program that writes reports is
// another (cli/ReportSupport.h), started for --report alone.
struct ReportSupport {
    // The report's name for a signed file.
    std::function<QString(const QString& signedPath)> fileName;
    std::function<std::optional<fileinfo::FileError>(const verify::VerifiedDocument&,
                                                     const QString& path, fileinfo::Replace)>
        write;
    // Makes what rendering needs, kept while reports are written.
    std::function<std::shared_ptr<void>()> prepare;
};

// Runs the command on `arguments` (without the program name), writing the
// report to `out` and problems to `err`; returns the exit status. `--offline`
// forbids requests whatever `options` say. The file "-" stands for the
// paths that `in` gives, one per line. Without `reports`, --report fails.
int runVerifyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err,
                     const verify::LoadOptions& options = {}, QTextStream* in = nullptr,
                     const ReportSupport& reports = {});

// The program's arguments, without its name, as the command takes them.
QStringList argumentsOf(int argc, char* argv[]);
// runVerifyCommand on the process's standard input, output and error.
int runOnStandardStreams(const QStringList& arguments, const ReportSupport& reports = {});

// Whether `arguments` are a valid call that writes a report.
bool asksForReport(const QStringList& arguments);

QJsonObject jsonReport(const verify::VerifiedDocument& document);
QString textReport(const verify::VerifiedDocument& document);

} // namespace selavia::cli
