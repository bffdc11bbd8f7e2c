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

// How a date problem is told, and how fresh revocation evidence must be: at
// the time of the check, or at a time-stamp's time (a proof of existence).
enum class JudgedAt { Check, TimeStamp };

enum class RevocationVerdict { Revoked, NotRevoked, Unknown };

// What `status` proves of a certificate at `at`. Revoked: revoked at or
// before it (without a date, from the beginning), whatever the evidence's
// age. Not revoked: the evidence was issued at or after `at`, or, at the
// time of the check, is current then. A revocation dated after `at` did not
// hurt then; one dated after the check (beyond a few minutes of clock skew)
// or after the evidence's own issue proves nothing. Evidence without dates
// (a trusted root's) is taken as it stands.
RevocationVerdict revocationAt(const signature::RevocationStatus& status, const QDateTime& at,
                               JudgedAt judgedAt);

// `certificate` judged for `role` at `at` (UTC): every certificate of its
// path within its validity then and not revoked by then, the path reaching
// a trusted root without fault, and, for a signer's role, key usages that
// allow signing.
CertificateStatus judgeCertificate(const signature::Certificate& certificate,
                                   signature::CertificateRole role, const QDateTime& at,
                                   JudgedAt judgedAt = JudgedAt::Check);

// Both tests of a signer's class, from its certificate judged at the time of
// the check: ICP-Brasil when a certificate of its path names the root
// authority and its anchor is not gov.br's; valid when the certificate is, and the signature's
// signing-certificate attribute does not name another certificate. What
// could not be worked out counts against the signer.
CertificateClass classOf(const CertificateStatus& status, bool bindingMismatch);

} // namespace selavia::verify
