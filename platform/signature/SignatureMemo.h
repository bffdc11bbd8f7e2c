#pragma once

// Whether a certificate's key verifies a signature it issued, remembered
// for the process. A run over an archive meets the same few authorities and
// lists in every file, and a public-key operation costs far more than
// hashing what it covers. The answers are keyed by the SHA-256 of the DER of
// both the signed object and the issuer's certificate, so a namesake issuer
// or a list replaced by another of the same authority is verified afresh.

typedef struct x509_st X509;
typedef struct X509_crl_st X509_CRL;

namespace selavia::signature::signatures {

// Whether `issuer`'s key verifies `subject`'s signature; false when the key
// cannot be read.
bool certificateSignedBy(X509* subject, X509* issuer);

// Whether `issuer`'s key verifies `crl`'s signature; false when the key
// cannot be read.
bool crlSignedBy(X509_CRL* crl, X509* issuer);

// How many answers are kept at most: an archive's authorities and lists
// are far fewer.
inline constexpr int kMaxRemembered = 4096;

} // namespace selavia::signature::signatures
