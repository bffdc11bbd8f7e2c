#pragma once

// Which of several certificates bearing an issuer's name issued a
// certificate. An authority that is re-keyed keeps its name, so a message,
// the bundled intermediates and fetched issuers may hold several
// candidates; OpenSSL matches names and key identifiers and prefers one
// valid at the time, but never tries the signature, and would settle on a
// namesake whose key did not sign.

typedef struct x509_st X509;
typedef struct x509_store_ctx_st X509_STORE_CTX;
typedef struct x509_store_st X509_STORE;

namespace selavia::signature::issuers {

// Whether `issuer`'s key verifies `subject`'s signature; true as well when
// the key cannot be read, which the path then reports on its own.
bool signs(X509* issuer, X509* subject);

// Makes chains built over `store` take as issuer only a candidate whose
// name and key identifiers match and whose key verifies the signature.
void chooseBySignature(X509_STORE* store);

// For one chain building: names and key identifiers alone, as OpenSSL
// does, so that a certificate no candidate signed still shows which
// signature fails.
void chooseByNameOnly(X509_STORE_CTX* context);

} // namespace selavia::signature::issuers
