#pragma once

#include "CertificateRole.h"
#include "OpenSslHandles.h"
#include "Revocation.h"
#include "TrustStore.h"
#include "ValidationServices.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

namespace selavia::signature {

struct StoreRun;

// What judging a certificate needs besides the certificate: the trusted
// roots, the other certificates of its message, the bundled intermediates
// and the services from outside (revocation sources asked in order, issuer
// fetching). Services that reach the network are used only by prepare().
class ValidationContext {
public:
    ValidationContext(TrustStore store, ossl::UniqueX509Stack untrusted,
                      ValidationServices services);
    ~ValidationContext();

    // The chain of `certificate` as far as it builds, signer first, and
    // whether it reached a trusted root.
    struct BuiltChain {
        ossl::UniqueX509Stack certificates;
        bool trusted = false; // reached a trusted root, whatever else is wrong
    };
    BuiltChain buildChain(X509* certificate) const;

    struct Link {
        std::shared_ptr<X509> certificate;
        RevocationStatus revocation; // what the sources said, whenever it was
        QStringList problems;        // of the path at this certificate, without its name
    };
    // The path of `certificate` as built at `at` (invalid: now), the
    // certificate first, with what the revocation sources said of each
    // certificate of it. Facts only: dates and revocation are left for the
    // caller to judge at whatever time it judges. Revocation comes from the
    // answers at hand: outside prepare() nothing is asked beyond the
    // process. Worked out once per certificate, role and time.
    struct PathFacts {
        std::vector<Link> chain;
        bool trusted = false;      // reached a trusted root, whatever else is wrong
        bool chainTrusted = false; // trusted, and every link signed by the next and may issue
        bool meantForSignatures = true;
        bool built = true; // false when the path could not be worked out at all
        // The framework of the anchor reached; None when untrusted.
        TrustFramework framework = TrustFramework::None;
    };
    PathFacts path(X509* certificate, CertificateRole role, const QDateTime& at = {}) const;

    // Certificates that may help build chains, trusted no more than the
    // message's own (those a time-stamp token carries).
    void addHelpers(const std::vector<std::shared_ptr<X509>>& found) const;

    // The validation phase: completes the chain of each of `certificates`
    // (fetching missing issuers) and asks the revocation sources about every
    // certificate of those chains, on up to `parallelism` threads. Afterwards
    // judging them asks nothing outside the process. Returns false when
    // `progress` cancelled it.
    bool prepare(const std::vector<X509*>& certificates, const PhaseProgress& progress) const;

private:
    struct Answer {
        RevocationStatus status;
        bool complete = false; // every source was asked, the network ones too
    };

    PathFacts pathFresh(X509* certificate, CertificateRole role, const QDateTime& at) const;
    RevocationStatus revocationOf(X509* certificate, X509* issuer) const;
    // Builds the chain, checked at `at` (invalid: the time of the check, when
    // the services know it, else now), adding bundled or
    // fetched issuers while it stops short of a trusted root. Built once for
    // as long as nothing it was built from changed: the same certificate,
    // time, candidates and access to the network.
    std::shared_ptr<const StoreRun> completeChain(X509* certificate,
                                                  const QDateTime& at = {}) const;
    std::shared_ptr<const StoreRun> completeChainFresh(X509* certificate,
                                                       const QDateTime& at) const;
    ossl::UniqueX509Stack candidates() const;
    // Adds the certificates not yet known; false when none was new.
    bool addNewHelpers(const std::vector<std::shared_ptr<X509>>& found) const;
    void checkChainOf(X509* certificate, class PhaseRunner& runner, std::set<QByteArray>& claimed,
                      std::mutex& claimedMutex) const;

    TrustStore store_;
    ossl::UniqueX509Stack untrusted_;
    ValidationServices services_;
    mutable std::atomic<bool> networkOpen_{false};
    mutable std::mutex mutex_;
    mutable std::vector<std::shared_ptr<X509>> helpers_;
    mutable std::set<QByteArray> helperKeys_;
    mutable std::map<QByteArray, PathFacts> paths_;
    struct BuiltRun {
        std::shared_ptr<const StoreRun> run;
        bool network = false; // built while the network was open
    };
    mutable std::map<QByteArray, BuiltRun> runs_;
    mutable std::map<QByteArray, Answer> revocations_;
};

// Whether the certificate's key usage and extended key usage allow signing
// documents.
bool meantForSignatures(X509* certificate);

} // namespace selavia::signature
