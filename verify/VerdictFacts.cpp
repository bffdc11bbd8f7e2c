#include "verify/VerdictFacts.h"

#include "platform/signature/SignatureError.h"

#include <algorithm>

namespace selavia::verify {
namespace {

namespace sig = signature;

struct Period {
    QDateTime from, to; // invalid when unreadable
};

Period periodOf(const sig::Certificate& certificate)
{
    Period period;
    try {
        period.from = certificate.validFromDate();
        period.to = certificate.validToDate();
    } catch (const sig::SignatureError&) {
    }
    return period;
}

// The periods of the chain's certificates; the signer's own dates when no
// chain was worked out.
std::vector<Period> periodsOf(const SignerEntry& signer)
{
    std::vector<Period> periods;
    for (const sig::ChainLinkStatus& link : signer.status.chain)
        periods.push_back(periodOf(link.certificate));
    if (periods.empty())
        periods.push_back({signer.validFrom, signer.validTo});
    return periods;
}

bool revokedBy(const sig::RevocationStatus& revocation, const QDateTime& reference)
{
    // A revocation without a date cannot be placed after the reference.
    return revocation.revoked() &&
           (!revocation.revokedAt.isValid() || revocation.revokedAt <= reference);
}

FileFailure failureOf(const VerifiedDocument& document)
{
    if (document.verified())
        return FileFailure::None;
    switch (document.error->errorClass) {
    case VerificationErrorClass::HashMismatch:
        return FileFailure::ContentTampered;
    case VerificationErrorClass::SignatureViolated:
        return FileFailure::SignatureInvalid;
    case VerificationErrorClass::InvalidFile:
    case VerificationErrorClass::Unknown:
        break;
    }
    return FileFailure::InvalidFile;
}

} // namespace

QDateTime referenceTime(const SignerEntry& signer, const QDateTime& checkedAt)
{
    if (signer.timestamp && signer.timestamp->valid && signer.timestamp->genTime.isValid())
        return signer.timestamp->genTime;
    return checkedAt;
}

SignerFacts signerFacts(const SignerEntry& signer, const QDateTime& checkedAt)
{
    const QDateTime reference = referenceTime(signer, checkedAt);
    const std::vector<sig::ChainLinkStatus>& chain = signer.status.chain;
    SignerFacts facts;
    facts.validTimestamp =
        signer.timestamp && signer.timestamp->valid && signer.timestamp->genTime.isValid();
    facts.timestampInvalid = signer.timestamp && !signer.timestamp->valid;
    facts.revokedBeforeReference =
        std::any_of(chain.begin(), chain.end(), [&](const sig::ChainLinkStatus& link) {
            return revokedBy(link.revocation, reference);
        });
    for (std::size_t n = 0; n + 1 < chain.size(); ++n)
        facts.revocationUnknown |= chain[n].revocation.state == sig::RevocationState::Unknown;
    facts.policyViolation = signer.policy && !signer.policy->conforms;
    facts.signingCertificateMismatch = signer.signingCertificateMismatch;
    facts.notMeantForSignatures = !signer.status.meantForSignatures;
    facts.untrustedChain = !signer.status.chainTrusted;
    for (const Period& period : periodsOf(signer)) {
        facts.expiredAtReference |= period.to.isValid() && period.to < reference;
        facts.notYetValidAtReference |= period.from.isValid() && period.from > reference;
    }
    return facts;
}

DocumentJudgements judgeDocument(const VerifiedDocument& document)
{
    DocumentJudgements judgements;
    for (const SignerEntry& signer : document.signers)
        judgements.signers.push_back(judgeSigner(signerFacts(signer, document.checkedAt)));
    judgements.file = judgeFile(failureOf(document), judgements.signers);
    return judgements;
}

} // namespace selavia::verify
