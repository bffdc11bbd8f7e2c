#include "verify/CertificateJudge.h"

#include "platform/signature/SignatureError.h"
#include "verify/DocumentName.h"

#include <algorithm>
#include <exception>

namespace selavia::verify {
namespace {

namespace sig = signature;

const QString kNotForSignatures = QStringLiteral("o certificado não se destina a assinaturas");

template <typename Value, typename Read> void readInto(Value& value, Read&& read)
{
    try {
        value = read();
    } catch (const std::exception&) {
    }
}

QStringList dateProblems(const CertificateFacts& certificate, const QDateTime& at,
                         JudgedAt judgedAt)
{
    const bool expired = certificate.validTo.isValid() && certificate.validTo < at;
    const bool notYet = certificate.validFrom.isValid() && certificate.validFrom > at;
    if (!expired && !notYet)
        return {};
    if (judgedAt == JudgedAt::TimeStamp)
        return {QStringLiteral("fora da validade na data do carimbo do tempo")};
    return {expired ? QStringLiteral("o certificado expirou")
                    : QStringLiteral("o certificado ainda não é válido")};
}

// CRL reasons (RFC 5280): unspecified, keyCompromise, cACompromise,
// aACompromise, or none given. Superseded, affiliation changed, cessation of
// operation and the like say the key was still the holder's alone.
bool revokedForCompromise(int reason)
{
    return reason < 0 || reason == 0 || reason == 1 || reason == 2 || reason == 10;
}

// A revocation dated this far after the check is still taken as one: clocks
// differ.
constexpr qint64 kClockSkewSeconds = 300;

bool provesNotRevoked(const sig::RevocationStatus& status, const QDateTime& at, JudgedAt judgedAt)
{
    if (!status.thisUpdate.isValid())
        return true;
    return status.thisUpdate >= at ||
           (judgedAt == JudgedAt::Check && sig::revocationCurrent(status, at));
}

// Evidence that is there but says nothing of `at` is shown as unknown, with
// its source and dates kept.
sig::RevocationStatus tooOld(sig::RevocationStatus status, JudgedAt judgedAt)
{
    status.state = sig::RevocationState::Unknown;
    status.detail = judgedAt == JudgedAt::TimeStamp
                        ? QStringLiteral("a informação de revogação disponível é anterior à "
                                         "data do carimbo do tempo")
                        : QStringLiteral("a informação de revogação disponível não está "
                                         "atualizada");
    return status;
}

// A revocation dated after the instant judged at: the certificate was not
// revoked then, which is what its status says; the later date is kept in
// words.
sig::RevocationStatus revokedLater(sig::RevocationStatus status)
{
    status.state = sig::RevocationState::Good;
    status.detail =
        QStringLiteral("na data da verificação; depois, ") + sig::revocationText(status);
    return status;
}

ChainLinkStatus judgeLink(const sig::PathLink& link, const QDateTime& at, JudgedAt judgedAt,
                          bool hasIssuer, CertificateStatus& status)
{
    ChainLinkStatus judged{certificateFacts(link.certificate), link.revocation, link.problems};
    const QStringList dates = dateProblems(judged.certificate, at, judgedAt);
    status.expired |= judged.certificate.validTo.isValid() && judged.certificate.validTo < at;
    status.notYetValid |=
        judged.certificate.validFrom.isValid() && judged.certificate.validFrom > at;
    judged.problems << dates;
    const RevocationVerdict revocation = revocationAt(link.revocation, at, judgedAt);
    if (revocation == RevocationVerdict::Revoked) {
        status.revoked = true;
        status.revokedForCompromise |= revokedForCompromise(link.revocation.reason);
        judged.problems << QStringLiteral("o certificado foi ") +
                               sig::revocationText(link.revocation);
    }
    // The top of a path has no issuer to ask: a trusted anchor, or the end
    // of an untrusted path, which the path's own problem tells.
    judged.revocationUnknown = hasIssuer && revocation == RevocationVerdict::Unknown;
    if (judged.revocationUnknown && link.revocation.state != sig::RevocationState::Unknown)
        judged.revocation = tooOld(link.revocation, judgedAt);
    if (judgedAt == JudgedAt::Check && revocation == RevocationVerdict::NotRevoked &&
        link.revocation.revoked())
        judged.revocation = revokedLater(link.revocation);
    return judged;
}

} // namespace

CertificateFacts certificateFacts(const sig::Certificate& certificate)
{
    CertificateFacts facts;
    if (certificate.isNull())
        return facts;
    readInto(facts.simpleName,
             [&] { return certificate.getInfo(sig::CertificateInfo::SubjectSimpleName); });
    facts.displayName = displayText(facts.simpleName);
    readInto(facts.subject, [&] { return certificate.subjectName(); });
    readInto(facts.issuer, [&] { return certificate.issuerName(); });
    readInto(facts.email, [&] { return certificate.getInfo(sig::CertificateInfo::SubjectEmail); });
    readInto(facts.version, [&] { return certificate.version(); });
    readInto(facts.serialNumber, [&] { return certificate.serialNumber(); });
    readInto(facts.thumbprint, [&] { return certificate.thumbprint(); });
    readInto(facts.validFrom, [&] { return certificate.validFromDate(); });
    readInto(facts.validTo, [&] { return certificate.validToDate(); });
    readInto(facts.der, [&] { return certificate.der(); });
    return facts;
}

RevocationVerdict revocationAt(const sig::RevocationStatus& status, const QDateTime& at,
                               JudgedAt judgedAt)
{
    if (status.state == sig::RevocationState::Unknown)
        return RevocationVerdict::Unknown;
    if (status.revoked()) {
        const QDateTime& when = status.revokedAt;
        const qint64 skew = judgedAt == JudgedAt::Check ? kClockSkewSeconds : 0;
        if (!when.isValid() || when <= at.addSecs(skew))
            return RevocationVerdict::Revoked;
        // Dated after the evidence was issued: a date nobody could know.
        if (status.thisUpdate.isValid() && when > status.thisUpdate.addSecs(kClockSkewSeconds))
            return RevocationVerdict::Unknown;
    }
    return provesNotRevoked(status, at, judgedAt) ? RevocationVerdict::NotRevoked
                                                  : RevocationVerdict::Unknown;
}

CertificateStatus judgeCertificate(const sig::Certificate& certificate, sig::CertificateRole role,
                                   const QDateTime& at, JudgedAt judgedAt)
{
    CertificateStatus status;
    status.at = at;
    if (!at.isValid()) {
        status.problems << QStringLiteral("data de referência inválida");
        return status;
    }
    const sig::CertificatePath path = certificate.path(role, at);
    status.trusted = path.trusted;
    status.chainTrusted = path.chainTrusted;
    status.meantForSignatures = path.meantForSignatures;
    status.framework = path.framework;
    for (std::size_t n = 0; n < path.chain.size(); ++n) {
        ChainLinkStatus link =
            judgeLink(path.chain[n], at, judgedAt, n + 1 < path.chain.size(), status);
        status.revocationUnknown |= link.revocationUnknown;
        status.chain.push_back(std::move(link));
    }
    if (!status.meantForSignatures && !status.chain.empty())
        status.chain.front().problems.prepend(kNotForSignatures);
    for (const ChainLinkStatus& link : status.chain) {
        const QString& name = link.certificate.simpleName;
        for (const QString& problem : link.problems)
            status.problems << (name.isEmpty() || problem == kNotForSignatures
                                    ? problem
                                    : name + QStringLiteral(": ") + problem);
    }
    status.problems << path.problems;
    if (!status.chain.empty())
        status.revocation = status.chain.front().revocation;
    status.result = status.problems.isEmpty();
    return status;
}

CertificateClass classOf(const CertificateStatus& status, bool bindingMismatch)
{
    // A gov.br signature is an advanced one: never ICP-Brasil, whatever
    // names its path holds.
    const bool icp =
        status.framework != signature::TrustFramework::GovBr &&
        std::any_of(status.chain.begin(), status.chain.end(), [](const ChainLinkStatus& link) {
            return namesIcpBrasilRoot(link.certificate.subject);
        });
    // A signature whose signed attributes name another certificate was not
    // made with this one, however valid it is.
    const bool valid = status.result && !bindingMismatch;
    if (icp)
        return valid ? CertificateClass::Valid : CertificateClass::Invalid;
    return valid ? CertificateClass::NoIcpValid : CertificateClass::NoIcpInvalid;
}

} // namespace selavia::verify
