#pragma once

// What judging certificates may ask of the world outside the message:
// revocation sources and a way to find missing issuers. They are handed in
// from above (the layer that knows the settings), so this layer knows
// nothing of networks or caches.

#include "Revocation.h"

#include <QDateTime>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <vector>

typedef struct x509_st X509;

namespace selavia::signature {

// Finds certificates that may have issued a certificate whose issuer is in
// neither the message nor the trust store (the caIssuers of its AIA).
class IssuerFetcher {
public:
    virtual ~IssuerFetcher() = default;
    // Candidates for `certificate`'s issuer; each request made takes one from
    // `budget`, and none is made once it is zero.
    virtual std::vector<std::shared_ptr<X509>> fetchIssuers(X509* certificate, int& budget) = 0;
};

// How the network answered the requests of one verification.
struct NetworkTally {
    int requests = 0; // made, or refused for lack of time
    int answered = 0; // that brought a whole answer back

    bool silent() const { return requests > 0 && answered == 0; }
};

struct ValidationServices {
    RevocationProviders revocation;         // asked after the message's CRLs, in order
    std::shared_ptr<IssuerFetcher> issuers; // may be null
    std::function<void()> abort;            // stops every request in flight at once
    int parallelism = 4;                    // checks run at the same time
    std::function<NetworkTally()> tally;    // the requests so far; may be empty
    // Certificates that help build paths besides the message's own: those
    // the document carrying the message holds (a PDF's DSS).
    std::vector<std::shared_ptr<X509>> documentCertificates{};
    // The instant the certificates are judged at, when it is not the time of
    // the check (UTC; invalid: now). The sources are asked until one speaks
    // of that instant.
    QDateTime at{};
    // The time of the check (UTC; invalid: the clock's, each time). Paths
    // built without a time of their own are built at it, the instant the
    // certificates are judged at, so that one build serves both.
    QDateTime checkedAt{};
};

// Follows the validation phase: `done` of `total` checks finished. Called on
// the thread that runs the phase; returning false cancels it.
using PhaseProgress = std::function<bool(qint64 done, qint64 total)>;

} // namespace selavia::signature
