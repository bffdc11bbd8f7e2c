#pragma once

#include "OpenSslHandles.h"
#include "TrustStore.h"

#include <QStringList>

namespace selavia::signature {

// What judging a certificate needs besides the certificate: the trusted
// roots, the other certificates of its message and the CRLs it carried.
class ValidationContext {
public:
    ValidationContext(TrustStore store, ossl::UniqueX509Stack untrusted, ossl::UniqueCrlStack crls);

    // The chain of `certificate` as far as it builds, signer first, and
    // whether it reached a trusted root.
    struct BuiltChain {
        ossl::UniqueX509Stack certificates;
        bool trusted = false;
    };
    BuiltChain buildChain(X509* certificate) const;

    // Every problem that makes `certificate` invalid now; empty when valid.
    QStringList validityProblems(X509* certificate) const;

private:
    TrustStore store_;
    ossl::UniqueX509Stack untrusted_;
    ossl::UniqueCrlStack crls_;
};

} // namespace selavia::signature
