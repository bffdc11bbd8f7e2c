#pragma once

// What the verdict rules (Verdict.h) read, worked out from what verifying a
// document found: the facts of each signer at its reference time, and the
// judgements of the whole document.

#include "verify/SignatureTree.h"
#include "verify/Verdict.h"
#include "verify/VerifiedDocument.h"

#include <QDateTime>
#include <vector>

namespace selavia::verify {

// The moment a signer is judged at: its valid time-stamp's time, which
// proves the signature existed then, else `checkedAt` (when the
// certificates were judged).
QDateTime referenceTime(const SignerEntry& signer, const QDateTime& checkedAt);

// The facts of one signer at its reference time. Revocation counts when it
// came at or before that time; dates are those of every certificate of the
// chain; revocation unknown counts for the certificates that have an
// issuer in the chain (the top is the anchor, or what an untrusted chain
// stopped at, which the untrusted-chain fact tells).
SignerFacts signerFacts(const SignerEntry& signer, const QDateTime& checkedAt);

struct DocumentJudgements {
    Judgement file;
    std::vector<Judgement> signers; // in the document's signer order
};

// The file's judgement and each signer's: a file that failed verification
// is judged by its failure alone.
DocumentJudgements judgeDocument(const VerifiedDocument& document);

} // namespace selavia::verify
