#pragma once

// What a certificate's path is worked out for, and its name as the program
// shows it: what both the certificates and the path builder below them need.

#include <QString>

typedef struct x509_st X509;

namespace selavia::signature {

enum class CertificateRole {
    Any,          // the role its own extensions give it: an authority issues, the rest sign
    Signer,       // signing documents, whatever it is
    TimeStamping, // a time-stamp authority's, whose purpose its tokens' check looks at
};

namespace detail {
// `GetInfo` 0 of a raw certificate; empty when it has no usable name.
QString simpleName(X509* certificate);
} // namespace detail

} // namespace selavia::signature
