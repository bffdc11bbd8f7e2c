#pragma once

#include "fileinfo/FileError.h"
#include "verify/Verdict.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace selavia::verify {

// The four classes of verification failure shown in the error panel.
enum class VerificationErrorClass { HashMismatch, InvalidFile, SignatureViolated, Unknown };

struct VerificationError {
    VerificationErrorClass errorClass = VerificationErrorClass::Unknown;
    QString codeText; // the failure's code as signed decimal text
    QString caption;  // `lblErrorNum`
    QString text;     // `lblErrorDes`, line breaks (CR LF) included
    QString detail;   // what OpenSSL said, for the JSON report; never on a panel
    // A file that could not be read (the signed file, or a detached
    // signature's document) and the system's reason; told below the text.
    QString unreadablePath;
    std::optional<fileinfo::FileError> readFailure;
};

// Picks the class by comparing `codeText` with the table's decimal texts in
// order; the unknown class quotes `description`.
VerificationError classifyVerificationError(const QString& codeText, const QString& description,
                                            const QString& detail = {});

// The failure came from a file that could not be read: `error` keeps its
// caption and text and says, below them, which file and why.
void noteUnreadableFile(VerificationError& error, const QString& path,
                        const fileinfo::FileError& why);

// Why a file that failed verification failed, for its verdict.
FileFailure fileFailureOf(const VerificationError& error);

} // namespace selavia::verify
