#pragma once

// What loading a document is told from above: which roots to trust and
// how revocation data may be had; and how it reports its phases.

#include "platform/revocation/Settings.h"
#include "platform/signature/TrustStore.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace selavia::verify {

struct LoadOptions {
    // A trust store alone converts: revocation as the environment says
    // (SELAVIA_OFFLINE, the cache folder).
    LoadOptions(signature::TrustStore store = signature::TrustStore::systemDefault(),
                revocation::Settings revocationSettings = revocation::Settings::fromEnvironment())
        : trustStore(std::move(store)), revocation(std::move(revocationSettings))
    {
    }

    signature::TrustStore trustStore;
    revocation::Settings revocation;
    // The document a detached signature signs: read from this path, streamed
    // as attached content is, and named after it. Empty: the signed file
    // holds its document.
    QString detachedContentPath;
    // Also sum the signed file itself (its SHA-256), from the verifying
    // read: what a verification report names the file by.
    bool sumSignedFile = false;
    // The roots ITI's current lists of policies must be signed under;
    // nullopt: the bundled ICP-Brasil roots.
    std::optional<signature::TrustStore> policyListRoots;
    // The instant to judge at instead of the time of the check (any time
    // zone); invalid: now. Proofs of existence count as they always do;
    // revocation evidence counts only as far as it speaks of this instant,
    // and no OCSP responder is asked.
    QDateTime at;
    // Also name the trust data judged against (ValidationResult::trust).
    // Naming it reads every certificate of the system's store once per
    // process, which a plain verification never does: asked for by the
    // outputs that print it.
    bool nameTrust = false;
};

// The phases of a load, in order: the content is hashed, then every
// certificate of every signer's chain is checked for revocation (issuers
// fetched, CRLs and OCSP answers read from the cache or the network).
enum class LoadPhase { Hashing, Revocation };

// Told on the loading thread as each phase goes: `done` of `total` (bytes
// while hashing, checks while checking revocation). Returning false
// cancels the load: requests in flight are aborted at once and the
// document comes back failed with the cancelled error.
using LoadProgress = std::function<bool(LoadPhase phase, qint64 done, qint64 total)>;

} // namespace selavia::verify
