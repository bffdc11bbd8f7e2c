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

// The timestamp-origin text of a trimmed document-description value.
QString timestampOriginText(const QString& trimmedDescription);

} // namespace selavia::verify
