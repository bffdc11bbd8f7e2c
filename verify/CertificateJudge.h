#pragma once

// Judging a certificate at a time: its path as the signature services built
// it, its dates and its revocation. The one place where "valid at T" is
// decided, for signers, counter-signers and time-stamp authorities alike.

#include "platform/signature/Certificate.h"
#include "verify/ValidationResult.h"

#include <QDateTime>

namespace selavia::verify {

// What the certificate says of itself; what cannot be read stays empty.
CertificateFacts certificateFacts(const signature::Certificate& certificate);

// Whether `status` makes a certificate invalid at `at`: revoked at or
// before it. A revocation after `at` did not hurt then; one without a date
// counts from the beginning.
bool revokedBy(const signature::RevocationStatus& status, const QDateTime& at);

// How a date problem is told: at the time of the check, or at a
// time-stamp's time.
enum class JudgedAt { Check, TimeStamp };

// `certificate` judged for `role` at `at` (UTC): every certificate of its
// path within its validity then and not revoked by then, the path reaching
// a trusted root without fault, and, for a signer's role, key usages that
// allow signing.
CertificateStatus judgeCertificate(const signature::Certificate& certificate,
                                   signature::CertificateRole role, const QDateTime& at,
                                   JudgedAt judgedAt = JudgedAt::Check);

// Both tests of a signer's class, from its certificate judged at the time of
// the check: ICP-Brasil when a certificate of its path names the root
// authority; valid when the certificate is, and the signature's
// signing-certificate attribute does not name another certificate. What
// could not be worked out counts against the signer.
CertificateClass classOf(const CertificateStatus& status, bool bindingMismatch);

} // namespace selavia::verify
