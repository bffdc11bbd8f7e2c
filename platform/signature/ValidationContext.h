#pragma once

#include "OpenSslHandles.h"
#include "Revocation.h"
#include "TrustStore.h"

#include <QByteArray>
#include <QStringList>
#include <map>
#include <mutex>

namespace selavia::signature {

// What judging a certificate needs besides the certificate: the trusted
// roots, the other certificates of its message and the sources of
// revocation data, asked in order.
class ValidationContext {
public:
    ValidationContext(TrustStore store, ossl::UniqueX509Stack untrusted,
                      RevocationProviders revocation);

    // The chain of `certificate` as far as it builds, signer first, and
    // whether it reached a trusted root.
    struct BuiltChain {
        ossl::UniqueX509Stack certificates;
        bool trusted = false;
    };
    BuiltChain buildChain(X509* certificate) const;

    struct Link {
        std::shared_ptr<X509> certificate;
        RevocationStatus revocation;
        QStringList problems; // of this certificate, without its name
    };
    // Everything that makes `certificate` invalid now ("name: problem"
    // lines; empty when valid) and the chain it was judged on, the
    // certificate first. Worked out once per certificate and role.
    struct Judgement {
        QStringList problems;
        std::vector<Link> chain;
    };
    Judgement judge(X509* certificate, CertificateRole role) const;

private:
    Judgement judgeNow(X509* certificate, CertificateRole role) const;
    RevocationStatus revocationOf(X509* certificate, X509* issuer) const;

    TrustStore store_;
    ossl::UniqueX509Stack untrusted_;
    RevocationProviders revocation_;
    mutable std::mutex mutex_;
    mutable std::map<QByteArray, Judgement> judgements_;
    mutable std::map<QByteArray, RevocationStatus> revocations_;
};

// Whether the certificate's key usage and extended key usage allow signing
// documents.
bool meantForSignatures(X509* certificate);

} // namespace selavia::signature
