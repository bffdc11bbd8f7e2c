#pragma once

// One signer of a verified message read and judged: who signed, what the
// signature says, its certificate at the time of the check and at its
// time-stamp's, its counter-signatures, and its verdict.

#include "platform/signature/SignaturePolicies.h"
#include "platform/signature/SignedData.h"
#include "verify/ValidationResult.h"

#include <QDateTime>

namespace selavia::verify {

// Reads one signer (index from 1) under the resume-on-error rule (a value
// that cannot be read stays empty and the rest goes on) and judges it at
// `checkedAt`, or at its valid time-stamp's time where it has one; its
// declared policy with `policies`.
SignatureResult readSigner(
    const signature::Signer& signer, int index,
    const QDateTime& checkedAt = QDateTime::currentDateTimeUtc(),
    const signature::policies::PolicyCatalogue& policies = signature::policies::bundledCatalogue());

// What the document around a signature adds to its judgement (a signed
// PDF): a later proof of existence (a valid document time-stamp, used when
// the signature has none of its own), and what the document's structure
// says against it.
struct DocumentFindings {
    const TimeStampResult* proof = nullptr;
    bool rangeInvalid = false;        // its byte range is not what a signature covers
    bool changedAfterSigning = false; // a later change the signature does not allow
    bool visibleChange = false;       // an allowed later change paints over signed content
    QStringList problems{};
    QStringList warnings{};
};
SignatureResult readSigner(const signature::Signer& signer, int index, const QDateTime& checkedAt,
                           const signature::policies::PolicyCatalogue& policies,
                           const DocumentFindings& document);

// A time-stamp token judged as a signature of its own, its TSA's path at
// its time.
TimeStampResult judgeTimeStamp(const signature::TimeStampToken& token, const QDateTime& checkedAt);

// The timestamp-origin text of a trimmed document-description value.
QString timestampOriginText(const QString& trimmedDescription);

} // namespace selavia::verify
