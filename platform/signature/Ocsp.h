#pragma once

// The one reading of an OCSP answer, for answers fetched from a responder
// and answers a signed message carries alike.

#include "Revocation.h"

#include <QDateTime>
#include <optional>

typedef struct x509_st X509;
typedef struct ocsp_basic_response_st OCSP_BASICRESP;

namespace selavia::signature {

// Whether the answer must be current at `now` (a fresh one from the
// responder), or may be old (carried in a file: the judge weighs its dates).
enum class OcspAge { Current, AnyPast };

// What `basic` says of `certificate`, issued by `issuer`: nullopt unless it
// is signed by the issuer, or by a responder the issuer delegated with
// OCSPSigning and valid when the answer was produced; its times no later
// than `now` (a few minutes of leeway) and in order; and it answers
// "good" or "revoked" for the certificate.
std::optional<RevocationStatus> ocspStatus(OCSP_BASICRESP* basic, X509* certificate, X509* issuer,
                                           RevocationSource source, const QDateTime& now,
                                           OcspAge age);

} // namespace selavia::signature
