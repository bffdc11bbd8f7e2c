#pragma once

// Apart from Certificate.h: the validation context judges for a role too,
// and sits below the certificate.

namespace selavia::signature {

// What a certificate is judged for.
enum class CertificateRole {
    Any,          // the role its own extensions give it: an authority issues, the rest sign
    Signer,       // signing documents, whatever it is
    TimeStamping, // a time-stamp authority's, whose purpose its tokens' check looks at
};

} // namespace selavia::signature
