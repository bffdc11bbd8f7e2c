#pragma once

#include "Certificate.h"

namespace selavia::signature {

// A signer's certificate chain, from the signer's certificate towards the root.
class Chain {
public:
    Chain() = default;

    // Builds the chain of `certificate` from the message's certificates and
    // the trust store; when no trusted root is reached, as far as it builds.
    // Returns whether it reached a trusted root. Throws SignatureError.
    bool build(const Certificate& certificate);

    const CertificateCollection& certificates() const { return certificates_; }

private:
    CertificateCollection certificates_;
};

} // namespace selavia::signature
