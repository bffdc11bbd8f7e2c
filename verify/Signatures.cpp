#include "verify/Signatures.h"

#include "fileinfo/FileHandler.h"
#include "verify/CertificateJudge.h"
#include "verify/CryptoConstraints.h"
#include "verify/DocumentName.h"
#include "verify/SignaturePolicyCheck.h"
#include "verify/SignerIdentity.h"

#include <exception>

namespace selavia::verify {
namespace {

namespace sig = signature;

// A value that cannot be read leaves its field empty and the rest goes on.
template <typename Step> void attempt(Step&& step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}

// Blanks only: a marker with a tab or a line break around it is not one.
QString withoutOuterBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

void readIdentity(const sig::Certificate& certificate, const CertificateFacts& facts,
                  SignatureResult& entry)
{
    // Names come from the file's certificates, which anyone can write: what
    // is shown holds no control or reordering characters.
    std::optional<QString> identity;
    attempt([&] { identity = GetSignerIdentity(certificate); });
    if (identity) {
        const QStringList parts = identity->split(QLatin1Char(':'));
        entry.holderName = displayText(parts.value(0));
        entry.identity = displayText(parts.value(1));
        return;
    }
    // Without ICP-Brasil data the signer is still shown by its name.
    entry.holderName = displayText(facts.simpleName.section(QLatin1Char(':'), 0, 0));
}

void readAttributes(const sig::Signer& signer, SignatureResult& entry)
{
    for (const sig::Attribute& attribute : signer.authenticatedAttributes()) {
        if (!attribute.value.isValid())
            continue;
        switch (attribute.name) {
        case sig::AttributeName::SigningTime:
            entry.claimedSigningTime = attribute.value.toDateTime();
            entry.signingTime = fileinfo::GeneralDateText(entry.claimedSigningTime);
            break;
        case sig::AttributeName::DocumentName:
            if (std::optional<QString> name = acceptedDocumentName(attribute.value.toString()))
                entry.documentName = *name;
            break;
        case sig::AttributeName::DocumentDescription:
            entry.timestampOrigin =
                timestampOriginText(withoutOuterBlanks(attribute.value.toString()));
            break;
        case sig::AttributeName::Other:
            break;
        }
    }
}

void readTechnicalData(const CertificateFacts& facts, SignatureResult& entry)
{
    entry.email = displayText(facts.email);
    entry.validFrom = facts.validFrom;
    entry.validTo = facts.validTo;
    if (facts.validFrom.isValid())
        entry.validFromText = fileinfo::GeneralDateText(facts.validFrom);
    if (facts.validTo.isValid())
        entry.validToText = fileinfo::GeneralDateText(facts.validTo);
    entry.version = facts.version;
    entry.serialNumber = facts.serialNumber;
    entry.thumbprint = facts.thumbprint;
}

// A token judged: its own checks, then its TSA's path at its time. A TSA
// that cannot be judged is not a forgery, and is told apart.
// How far ahead of this machine's clock a token's time may be and still be
// taken as the time-stamp authority's clock, not as a token from the future:
// the two clocks are never quite the same.
constexpr qint64 kClockSkewSeconds = 5 * 60;

TimeStampResult judgeToken(const sig::TimeStampToken& token, const QDateTime& checkedAt)
{
    TimeStampResult result;
    result.genTime = token.genTime;
    result.tsaName = displayText(token.tsaName);
    result.tokenProblems = token.problems;
    result.problems = token.problems + token.unchecked;
    result.unconfirmed = token.problems.isEmpty() && !token.unchecked.isEmpty();
    if (!token.tsaCertificate.isNull() && token.genTime.isValid()) {
        const CertificateStatus tsa =
            judgeCertificate(token.tsaCertificate, sig::CertificateRole::TimeStamping,
                             token.genTime, JudgedAt::TimeStamp);
        for (const ChainLinkStatus& link : tsa.chain)
            result.tsaChain.push_back(link.certificate);
        result.tsaChainStatus = tsa.chain;
        // A token dated after the check proves nothing about any time: not a
        // forgery of the token itself, but no proof of existence either.
        if (checkedAt.isValid() && token.genTime > checkedAt.addSecs(kClockSkewSeconds))
            result.problems << QStringLiteral(
                "o carimbo do tempo tem data posterior à verificação");
        // An untrusted path says so alone: nothing else of it can be relied on.
        if (!tsa.trusted)
            result.problems << QStringLiteral("a cadeia da ACT não chega a uma raiz confiável");
        else
            result.problems << tsa.problems;
    }
    result.valid = result.problems.isEmpty();
    // Its own checks failing is a forgery or damage; a TSA that cannot be
    // judged only leaves the token without proof.
    SignerFacts facts;
    facts.timestampInvalid = !result.tokenProblems.isEmpty();
    facts.timestampUntrusted = !result.valid && result.tokenProblems.isEmpty();
    result.judgement = judgeSigner(facts);
    return result;
}

// The token that counts: the first that verifies, else the first.
std::optional<TimeStampResult> countingToken(const std::vector<sig::TimeStampToken>& tokens,
                                             const QDateTime& checkedAt)
{
    std::optional<TimeStampResult> first;
    for (const sig::TimeStampToken& token : tokens) {
        TimeStampResult judged = judgeToken(token, checkedAt);
        if (judged.valid)
            return judged;
        if (!first)
            first = std::move(judged);
    }
    return first;
}

// The first valid archive time-stamp: the earliest proof that what it
// covers existed.
const TimeStampResult* validArchiveStamp(const std::vector<TimeStampResult>& stamps)
{
    for (const TimeStampResult& stamp : stamps) {
        if (stamp.valid && stamp.genTime.isValid())
            return &stamp;
    }
    return nullptr;
}

SignerFacts factsAt(const CertificateStatus& status)
{
    SignerFacts facts;
    facts.revokedBeforeReference = status.revoked;
    facts.revokedForCompromise = status.revokedForCompromise;
    facts.revocationUnknown = status.revocationUnknown;
    facts.notMeantForSignatures = !status.meantForSignatures;
    facts.untrustedChain = !status.chainTrusted;
    facts.expiredAtReference = status.expired;
    facts.notYetValidAtReference = status.notYetValid;
    return facts;
}

// A counter-signature and the ones below it, each judged as a signature of
// its own, listed depth first.
void judgeCounterSignature(const sig::CounterSignature& counter, const QDateTime& checkedAt,
                           int level, std::vector<CounterSignatureResult>& into)
{
    CounterSignatureResult result;
    result.signerName = displayText(counter.signerName);
    result.signingTime = counter.signingTime;
    result.level = level;
    result.problems = counter.problems;
    SignerFacts facts;
    if (!counter.certificate.isNull()) {
        const CertificateStatus status =
            judgeCertificate(counter.certificate, sig::CertificateRole::Signer, checkedAt);
        result.problems << status.problems;
        result.revocation = status.revocation;
        result.chainStatus = status.chain;
        facts = factsAt(status);
    }
    // Nothing to check it with, or an algorithm beyond us: not a forgery.
    facts.untrustedChain |= counter.certificate.isNull();
    facts.unsupportedAlgorithm = counter.uncheckable && !counter.certificate.isNull();
    facts.signatureInvalid = !counter.signatureValid && !counter.uncheckable;
    result.valid = counter.signatureValid && result.problems.isEmpty();
    result.judgement = judgeSigner(facts);
    into.push_back(std::move(result));
    for (const sig::CounterSignature& nested : counter.counterSignatures)
        judgeCounterSignature(nested, checkedAt, level + 1, into);
}

void readCades(const sig::Signer& signer, const QDateTime& checkedAt, SignatureResult& entry)
{
    const sig::CadesInfo& cades = signer.cades();
    entry.timestamp = countingToken(cades.timeStamps, checkedAt);
    entry.contentTimestamp = countingToken(cades.contentTimeStamps, checkedAt);
    for (const sig::TimeStampToken& token : cades.archiveTimeStamps)
        entry.archiveTimestamps.push_back(judgeToken(token, checkedAt));
    if (entry.contentTimestamp && entry.timestamp && entry.contentTimestamp->valid &&
        entry.timestamp->valid && entry.contentTimestamp->genTime > entry.timestamp->genTime)
        entry.warnings << QStringLiteral(
            "o carimbo do tempo do conteúdo é posterior ao carimbo do tempo da assinatura");
    entry.signingCertificateMismatch =
        cades.signingCertificate.binding == sig::CertificateBinding::Mismatch;
    for (const sig::CounterSignature& counter : cades.counterSignatures)
        judgeCounterSignature(counter, checkedAt, 1, entry.counterSignatures);
    entry.problems = cades.signingCertificate.problems + cades.problems;
    entry.warnings << cades.signingCertificate.warnings;
}

// What the signature's own encoding says: broken rules are errors, an
// order that verified only once sorted and weak algorithms are told.
void judgeEncoding(const sig::SignerEncoding& encoding, SignatureResult& entry, SignerFacts& facts)
{
    entry.algorithms = encoding.algorithms;
    entry.problems << encoding.formatProblems;
    facts.formatViolation = !encoding.formatProblems.isEmpty();
    if (encoding.verifiedOverDerOrder)
        entry.warnings << QStringLiteral(
            "os atributos assinados estão gravados fora da ordem DER; a assinatura confere "
            "sobre eles na ordem DER");
    for (const WeakAlgorithm& weak : weakAlgorithms(encoding.algorithms)) {
        entry.warnings << weakAlgorithmWarning(weak);
        facts.weakAlgorithm |= entry.bestSignatureTime > weak.lastValid;
    }
}

// What proves the signature existed: a valid signature time-stamp, else a
// valid archive time-stamp, else the document's; null when none.
const TimeStampResult* provingStamp(const SignatureResult& entry, const DocumentFindings& document)
{
    if (entry.timestamp && entry.timestamp->valid && entry.timestamp->genTime.isValid())
        return &*entry.timestamp;
    if (const TimeStampResult* archive = validArchiveStamp(entry.archiveTimestamps))
        return archive;
    if (document.proof && document.proof->valid && document.proof->genTime.isValid())
        return document.proof;
    return nullptr;
}

QString proofSource(const SignatureResult& entry, const TimeStampResult* proof)
{
    if (entry.timestamp && proof == &*entry.timestamp)
        return QStringLiteral("timestamp");
    for (const TimeStampResult& archive : entry.archiveTimestamps) {
        if (proof == &archive)
            return QStringLiteral("archive-timestamp");
    }
    return QStringLiteral("document-timestamp");
}

void addDocumentFindings(const DocumentFindings& document, SignatureResult& entry,
                         SignerFacts& facts)
{
    facts.byteRangeInvalid = document.rangeInvalid;
    facts.changedAfterSigning = document.changedAfterSigning;
    facts.visibleChangeAfterSigning = document.visibleChange;
    entry.problems << document.problems;
    entry.warnings << document.warnings;
}

std::vector<const TimeStampResult*> otherStamps(const SignatureResult& entry)
{
    std::vector<const TimeStampResult*> stamps;
    if (entry.contentTimestamp)
        stamps.push_back(&*entry.contentTimestamp);
    for (const TimeStampResult& archive : entry.archiveTimestamps)
        stamps.push_back(&archive);
    return stamps;
}

// The signature judged at its best signature time: a valid time-stamp's
// time, which proves it existed then, else the time of the check.
void judge(const sig::Signer& signer, SignatureResult& entry,
           const sig::policies::PolicyCatalogue& policies, const DocumentFindings& document)
{
    const TimeStampResult* proof = provingStamp(entry, document);
    const bool stamped = proof != nullptr;
    CertificateStatus atReference = entry.status;
    entry.bestSignatureTime = entry.status.at;
    entry.bestSignatureTimeSource = QStringLiteral("check");
    if (stamped) {
        entry.bestSignatureTime = proof->genTime;
        entry.bestSignatureTimeSource = proofSource(entry, proof);
        atReference = judgeCertificate(signer.certificate(), sig::CertificateRole::Signer,
                                       proof->genTime, JudgedAt::TimeStamp);
        entry.validAtTimestamp = atReference.result;
        entry.validAtTimestampProblems = atReference.problems;
    }
    SignerFacts facts = factsAt(atReference);
    facts.validTimestamp = stamped;
    if (entry.timestamp) {
        facts.timestampInvalid = entry.timestamp->judgement.verdict == Verdict::Rejected;
        facts.timestampUntrusted = entry.timestamp->judgement.verdict == Verdict::Indeterminate;
    }
    // Content and archive stamps are judged alike: a broken one is never
    // passed over, one that cannot be judged proves nothing. An archive
    // stamp whose imprint could not be confirmed (signers hash what it
    // covers in more than one way) is told, and weighs nothing.
    for (const TimeStampResult* other : otherStamps(entry)) {
        const bool content = entry.contentTimestamp && other == &*entry.contentTimestamp;
        if (other->unconfirmed && !content) {
            entry.warnings << other->problems;
            continue;
        }
        facts.timestampInvalid |= other->judgement.verdict == Verdict::Rejected;
        facts.timestampUntrusted |= other->judgement.verdict == Verdict::Indeterminate;
    }
    // The policy's dates are judged at the same best signature time.
    attempt([&] {
        entry.policy =
            checkSignaturePolicy(signer, entry.bestSignatureTime, entry.status.at, policies);
    });
    if (entry.policy) {
        facts.policyFindings = entry.policy->findings;
        entry.warnings << entry.policy->warnings;
    }
    facts.signingCertificateMismatch = entry.signingCertificateMismatch;
    judgeEncoding(signer.encoding(), entry, facts);
    addDocumentFindings(document, entry, facts);
    entry.judgement = judgeSigner(facts);
}

} // namespace

SignatureResult readSigner(const sig::Signer& signer, int index, const QDateTime& checkedAt,
                           const sig::policies::PolicyCatalogue& policies)
{
    return readSigner(signer, index, checkedAt, policies, DocumentFindings{});
}

TimeStampResult judgeTimeStamp(const sig::TimeStampToken& token, const QDateTime& checkedAt)
{
    return judgeToken(token, checkedAt);
}

SignatureResult readSigner(const sig::Signer& signer, int index, const QDateTime& checkedAt,
                           const sig::policies::PolicyCatalogue& policies,
                           const DocumentFindings& document)
{
    SignatureResult entry;
    entry.index = index;
    const sig::Certificate& certificate = signer.certificate();
    const CertificateFacts facts = certificateFacts(certificate);
    // An empty certificate has nothing to read, and most of its accessors
    // expect a handle.
    if (!certificate.isNull())
        readIdentity(certificate, facts, entry);
    entry.status = judgeCertificate(certificate, sig::CertificateRole::Signer, checkedAt);
    readAttributes(signer, entry);
    if (!certificate.isNull())
        readTechnicalData(facts, entry);
    attempt([&] { readCades(signer, checkedAt, entry); });
    entry.trustFramework = entry.status.framework;
    entry.certificateClass = classOf(entry.status, entry.signingCertificateMismatch);
    judge(signer, entry, policies, document);
    return entry;
}

QString timestampOriginText(const QString& trimmedDescription)
{
    if (trimmedDescription == QLatin1String("<ct>CARIMBO_LOCAL</ct>"))
        return QStringLiteral("(LOCAL)");
    if (trimmedDescription == QLatin1String("<ct>CARIMBO_ON</ct>"))
        return QStringLiteral("(ON Observatório Nacional - Hora Legal Brasileira)");
    return QStringLiteral("(Fonte Desconhecida)");
}

} // namespace selavia::verify
