#include "verify/Verdict.h"

#include "tests/support/Fixtures.h"
#include "verify/VerdictFacts.h"

#include <QStringList>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <tuple>

using namespace selavia::verify;

namespace {

// The reasons' codes, space-separated; each reason must have a text.
QString codesOf(const Judgement& judgement)
{
    QStringList codes;
    for (const VerdictReason& reason : judgement.reasons) {
        EXPECT_FALSE(reason.text.isEmpty()) << reason.code.toStdString();
        codes << reason.code;
    }
    return codes.join(' ');
}

// The facts by short names, so that rows read as one line each.
const std::pair<bool SignerFacts::*, const char*> kFactNames[] = {
    {&SignerFacts::revokedBeforeReference, "revoked"},
    {&SignerFacts::timestampInvalid, "badToken"},
    {&SignerFacts::policyViolation, "policy"},
    {&SignerFacts::signingCertificateMismatch, "mismatch"},
    {&SignerFacts::notMeantForSignatures, "keyUsage"},
    {&SignerFacts::untrustedChain, "untrusted"},
    {&SignerFacts::revocationUnknown, "unknown"},
    {&SignerFacts::expiredAtReference, "expired"},
    {&SignerFacts::notYetValidAtReference, "notYet"},
    {&SignerFacts::validTimestamp, "stamped"},
};

QString describe(const SignerFacts& facts)
{
    QStringList names;
    for (const auto& [flag, name] : kFactNames) {
        if (facts.*flag)
            names << name;
    }
    return names.join(' ');
}

SignerFacts factsNamed(const QString& names)
{
    SignerFacts facts;
    for (const QString& name : names.split(' ', Qt::SkipEmptyParts)) {
        const auto found = std::find_if(std::begin(kFactNames), std::end(kFactNames),
                                        [&](const auto& entry) { return name == entry.second; });
        EXPECT_NE(found, std::end(kFactNames)) << name.toStdString();
        if (found != std::end(kFactNames))
            facts.*(found->first) = true;
    }
    return facts;
}

TEST(VerdictTest, EachSignerRuleGivesItsVerdictAndCode)
{
    // The facts, the verdict, the reasons' codes.
    const std::vector<std::tuple<const char*, Verdict, const char*>> rows = {
        {"", Verdict::Approved, ""},
        {"revoked", Verdict::Rejected, "revoked"},
        {"badToken", Verdict::Rejected, "timestamp-invalid"},
        {"policy", Verdict::Rejected, "policy-violation"},
        {"mismatch", Verdict::Rejected, "signing-certificate-mismatch"},
        {"keyUsage", Verdict::Rejected, "key-usage"},
        {"untrusted", Verdict::Indeterminate, "untrusted-chain"},
        {"unknown", Verdict::Indeterminate, "revocation-unknown"},
        {"expired", Verdict::Indeterminate, "expired-no-timestamp"},
        {"notYet", Verdict::Indeterminate, "not-yet-valid"},
        // A valid token moves the reference time: expiry after it is no fault.
        {"stamped", Verdict::Approved, ""},
        {"expired stamped", Verdict::Indeterminate, "expired-no-timestamp"},
        // Revoked weighs more than unknown and untrusted.
        {"revoked untrusted unknown", Verdict::Rejected, "revoked untrusted-chain"},
        // Every Indeterminado reason is told.
        {"untrusted unknown expired", Verdict::Indeterminate,
         "untrusted-chain revocation-unknown expired-no-timestamp"},
    };
    for (const auto& [facts, verdict, codes] : rows) {
        SCOPED_TRACE(facts);
        const Judgement judgement = judgeSigner(factsNamed(facts));
        EXPECT_EQ(judgement.verdict, verdict);
        EXPECT_EQ(codesOf(judgement), codes);
    }
}

TEST(VerdictTest, TheFileTakesTheWorstAndAFailedFileIsRejected)
{
    const Judgement approved = judgeSigner({});
    const Judgement unknown = judgeSigner({.revocationUnknown = true});
    const Judgement revoked = judgeSigner({.revokedBeforeReference = true});

    EXPECT_EQ(judgeFile(FileFailure::None, {approved, approved}).verdict, Verdict::Approved);
    EXPECT_EQ(judgeFile(FileFailure::None, {approved, unknown}).verdict, Verdict::Indeterminate);
    const Judgement worst = judgeFile(FileFailure::None, {unknown, revoked, unknown});
    EXPECT_EQ(worst.verdict, Verdict::Rejected);
    EXPECT_EQ(codesOf(worst), "revocation-unknown revoked");
    EXPECT_EQ(judgeFile(FileFailure::None, {}).verdict, Verdict::Rejected) << "no signer";

    const std::vector<std::pair<FileFailure, const char*>> failures = {
        {FileFailure::InvalidFile, "invalid-file"},
        {FileFailure::ContentTampered, "content-tampered"},
        {FileFailure::SignatureInvalid, "signature-invalid"},
    };
    for (const auto& [failure, code] : failures) {
        const Judgement file = judgeFile(failure, {});
        EXPECT_EQ(file.verdict, Verdict::Rejected) << code;
        EXPECT_EQ(codesOf(file), code);
    }
    EXPECT_EQ(verdictWord(Verdict::Approved), "Aprovado");
    EXPECT_EQ(verdictWord(Verdict::Rejected), "Reprovado");
    EXPECT_EQ(verdictWord(Verdict::Indeterminate), "Indeterminado");
}

namespace fx = selavia::fixtures;
namespace sig = selavia::signature;

// The facts of a signer, worked out from what verifying it found. Each row
// changes one thing of a signer whose chain (its certificate, an
// intermediate, the anchor) is valid, trusted and not revoked.

QDateTime at(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0), Qt::UTC);
}

const QDateTime kCheckedAt = at(2026, 12, 7);

sig::Certificate certificateValid(const QDateTime& from, const QDateTime& to)
{
    fx::CertSpec spec;
    spec.subject = {{"CN", "Periodo"}};
    spec.notBefore = from.toSecsSinceEpoch();
    spec.notAfter = to.toSecsSinceEpoch();
    const fx::Cert cert = fx::makeCertificate(spec);
    return sig::Certificate(cert.x509.get(), nullptr);
}

sig::RevocationStatus revocation(sig::RevocationState state, QDateTime revokedAt = {})
{
    sig::RevocationStatus status;
    status.state = state;
    status.revokedAt = revokedAt;
    status.source = sig::RevocationSource::Message;
    return status;
}

SignerEntry soundSigner()
{
    SignerEntry signer;
    signer.index = 1;
    const sig::Certificate long_lived = certificateValid(at(2020, 1, 1), at(2035, 1, 1));
    signer.status.result = true;
    signer.status.chainTrusted = true;
    signer.status.chain = {
        {certificateValid(at(2025, 1, 1), at(2027, 1, 1)),
         revocation(sig::RevocationState::Good),
         {}},
        {long_lived, revocation(sig::RevocationState::Good), {}},
        {long_lived, revocation(sig::RevocationState::Good), {}},
    };
    return signer;
}

sig::TimeStampToken token(bool valid, const QDateTime& time)
{
    sig::TimeStampToken stamp;
    stamp.valid = valid;
    stamp.genTime = time;
    stamp.tsaName = QStringLiteral("ACT de Teste");
    return stamp;
}

// The changes a row makes to the sound signer.
using Change = std::function<void(SignerEntry&)>;

Change revokeLink(std::size_t link, const QDateTime& when = {})
{
    return [=](SignerEntry& s) {
        s.status.chain[link].revocation = revocation(sig::RevocationState::Revoked, when);
    };
}

Change unknownAt(std::size_t link)
{
    return [=](SignerEntry& s) {
        s.status.chain[link].revocation = revocation(sig::RevocationState::Unknown);
    };
}

Change validFor(const QDateTime& from, const QDateTime& to, std::size_t link = 0)
{
    return [=](SignerEntry& s) { s.status.chain[link].certificate = certificateValid(from, to); };
}

// A token of 2026-06-01 over the signature, which verifies or not.
Change stamp(bool valid)
{
    return [=](SignerEntry& s) { s.timestamp = token(valid, at(2026, 6, 1)); };
}

Change policy(const char* oid, bool conforms)
{
    return [=](SignerEntry& s) {
        s.policy = PolicyCheck{.oid = oid, .name = {}, .conforms = conforms, .problems = {}};
    };
}

Change both(Change first, Change second)
{
    return [=](SignerEntry& s) {
        first(s);
        second(s);
    };
}

} // namespace

TEST(VerdictFactsTest, EachFindingBecomesItsFactAtTheReferenceTime)
{
    const QDateTime early = at(2024, 1, 1);
    const std::vector<std::tuple<const char*, Change, const char*>> rows = {
        {"nothing wrong", [](SignerEntry&) {}, ""},
        {"the signer's certificate revoked before now", revokeLink(0, at(2026, 3, 1)), "revoked"},
        {"an intermediate revoked before now", revokeLink(1, at(2026, 3, 1)), "revoked"},
        {"revoked without a date", revokeLink(0), "revoked"},
        {"revoked after a valid token's time: valid when it signed",
         both(stamp(true), revokeLink(0, at(2026, 9, 1))), "stamped"},
        {"revoked before a valid token's time", both(stamp(true), revokeLink(0, at(2026, 2, 1))),
         "revoked stamped"},
        {"a token that does not verify moves nothing",
         both(stamp(false), revokeLink(0, at(2026, 9, 1))), "revoked badToken"},
        {"policy not conforming", policy("2.16.76.1.7.1.2.2.3", false), "policy"},
        {"policy conforming", policy("2.16.76.1.7.1.1.2.3", true), ""},
        {"signing certificate mismatch",
         [](SignerEntry& s) { s.signingCertificateMismatch = true; }, "mismatch"},
        {"not meant for signatures", [](SignerEntry& s) { s.status.meantForSignatures = false; },
         "keyUsage"},
        {"untrusted chain", [](SignerEntry& s) { s.status.chainTrusted = false; }, "untrusted"},
        {"revocation unknown for the signer's certificate", unknownAt(0), "unknown"},
        {"revocation unknown for an intermediate", unknownAt(1), "unknown"},
        {"the top of the chain has no issuer to ask", unknownAt(2), ""},
        {"expired now, no token", validFor(early, at(2026, 7, 1)), "expired"},
        {"expired now, valid at a valid token's time",
         both(validFor(early, at(2026, 7, 1)), stamp(true)), "stamped"},
        {"expired already at the token's time", both(validFor(early, at(2026, 5, 1)), stamp(true)),
         "expired stamped"},
        {"expired now, the token does not verify",
         both(validFor(early, at(2026, 7, 1)), stamp(false)), "badToken expired"},
        {"an intermediate expired", validFor(at(2020, 1, 1), at(2026, 1, 1), 1), "expired"},
        {"not yet valid", validFor(at(2027, 1, 1), at(2028, 1, 1)), "notYet"},
        {"not yet valid at the token's time",
         both(validFor(at(2026, 8, 1), at(2028, 1, 1)), stamp(true)), "notYet stamped"},
    };
    for (const auto& [what, change, facts] : rows) {
        SCOPED_TRACE(what);
        SignerEntry signer = soundSigner();
        change(signer);
        EXPECT_EQ(describe(signerFacts(signer, kCheckedAt)), facts);
    }
}

TEST(VerdictFactsTest, TheReferenceTimeIsTheValidTokensElseTheCheck)
{
    SignerEntry signer = soundSigner();
    EXPECT_EQ(referenceTime(signer, kCheckedAt), kCheckedAt);
    signer.timestamp = token(false, at(2026, 6, 1));
    EXPECT_EQ(referenceTime(signer, kCheckedAt), kCheckedAt);
    signer.timestamp = token(true, at(2026, 6, 1));
    EXPECT_EQ(referenceTime(signer, kCheckedAt), at(2026, 6, 1));
}

TEST(VerdictFactsTest, TheDocumentIsJudgedFromItsSignersOrItsFailure)
{
    VerifiedDocument document;
    document.checkedAt = kCheckedAt;
    document.signers = {soundSigner(), soundSigner()};
    document.signers[1].status.chainTrusted = false;
    DocumentJudgements judged = judgeDocument(document);
    ASSERT_EQ(judged.signers.size(), 2u);
    EXPECT_EQ(judged.signers[0].verdict, Verdict::Approved);
    EXPECT_EQ(judged.signers[1].verdict, Verdict::Indeterminate);
    EXPECT_EQ(judged.file.verdict, Verdict::Indeterminate);
    EXPECT_EQ(codesOf(judged.file), "untrusted-chain");

    const std::vector<std::pair<VerificationErrorClass, const char*>> failures = {
        {VerificationErrorClass::HashMismatch, "content-tampered"},
        {VerificationErrorClass::SignatureViolated, "signature-invalid"},
        {VerificationErrorClass::InvalidFile, "invalid-file"},
        {VerificationErrorClass::Unknown, "invalid-file"},
    };
    for (const auto& [errorClass, code] : failures) {
        VerifiedDocument failed;
        failed.error = VerificationError{
            .errorClass = errorClass, .codeText = {}, .caption = {}, .text = {}, .detail = {}};
        judged = judgeDocument(failed);
        EXPECT_TRUE(judged.signers.empty());
        EXPECT_EQ(judged.file.verdict, Verdict::Rejected) << code;
        EXPECT_EQ(codesOf(judged.file), code);
    }
}
