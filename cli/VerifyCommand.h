#pragma once

// `selavia-verify`: what the verify core computes, for scripts and people.

#include "verify/LoadOptions.h"
#include "verify/VerifiedDocument.h"

#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

namespace selavia::cli {

namespace exit_status {
inline constexpr int kSignaturesOk = 0;
inline constexpr int kNotAllValid = 1;
inline constexpr int kVerificationFailed = 2;
inline constexpr int kUsage = 64;
inline constexpr int kCannotWrite = 73;
} // namespace exit_status

// Runs the command on `arguments` (without the program name), writing the
// report to `out` and problems to `err`; returns the exit status. `--offline`
// forbids requests whatever `options` say.
int runVerifyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err,
                     const verify::LoadOptions& options = {});

QJsonObject jsonReport(const verify::VerifiedDocument& document);
QString textReport(const verify::VerifiedDocument& document);

} // namespace selavia::cli
