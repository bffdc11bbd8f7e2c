#pragma once

#include "verify/Verdict.h"

#include <QString>
#include <cstdint>

namespace selavia::verify {

// The four classes of verification failure shown in the error panel.
enum class VerificationErrorClass { HashMismatch, InvalidFile, SignatureViolated, Unknown };

struct VerificationError {
    VerificationErrorClass errorClass = VerificationErrorClass::Unknown;
    QString codeText; // the failure's code as signed decimal text
    QString caption;  // `lblErrorNum`
    QString text;     // `lblErrorDes`, line breaks (CR LF) included
    QString detail;   // what OpenSSL said, for the JSON report; never on a panel
};

// Picks the class by comparing `codeText` with the table's decimal texts in
// order; the unknown class quotes `description`.
VerificationError classifyVerificationError(const QString& codeText, const QString& description,
                                            const QString& detail = {});

// Why a file that failed verification failed, for its verdict.
FileFailure fileFailureOf(const VerificationError& error);

} // namespace selavia::verify
