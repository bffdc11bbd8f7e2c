#include "verify/Verdict.h"

#include "tests/support/Fixtures.h"
#include "verify/VerdictFacts.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

using namespace selavia::verify;

namespace {

QStringList codesOf(const Judgement& judgement)
{
    QStringList codes;
    for (const VerdictReason& reason : judgement.reasons) {
        EXPECT_FALSE(reason.text.isEmpty()) << reason.code.toStdString();
        codes << reason.code;
    }
    return codes;
}

struct Row {
    const char* what;
    SignerFacts facts;
    Verdict verdict;
    QStringList codes;
};

TEST(VerdictTest, EachSignerRuleGivesItsVerdictAndCode)
{
    const std::vector<Row> rows = {
        {"nothing wrong", {}, Verdict::Approved, {}},
        {"revoked", {.revokedBeforeReference = true}, Verdict::Rejected, {"revoked"}},
        {"bad token", {.timestampInvalid = true}, Verdict::Rejected, {"timestamp-invalid"}},
        {"policy", {.policyViolation = true}, Verdict::Rejected, {"policy-violation"}},
        {"substituted certificate",
         {.signingCertificateMismatch = true},
         Verdict::Rejected,
         {"signing-certificate-mismatch"}},
        {"key usage", {.notMeantForSignatures = true}, Verdict::Rejected, {"key-usage"}},
        {"untrusted", {.untrustedChain = true}, Verdict::Indeterminate, {"untrusted-chain"}},
        {"revocation unknown",
         {.revocationUnknown = true},
         Verdict::Indeterminate,
         {"revocation-unknown"}},
        {"expired, no token",
         {.expiredAtReference = true},
         Verdict::Indeterminate,
         {"expired-no-timestamp"}},
        {"not yet valid",
         {.notYetValidAtReference = true},
         Verdict::Indeterminate,
         {"not-yet-valid"}},
        // A valid token moves the reference time: expiry after it is no fault.
        {"valid token, valid then", {.validTimestamp = true}, Verdict::Approved, {}},
        {"valid token, expired even then",
         {.expiredAtReference = true, .validTimestamp = true},
         Verdict::Indeterminate,
         {"expired-no-timestamp"}},
        {"revoked weighs more than unknown and untrusted",
         {.revokedBeforeReference = true, .untrustedChain = true, .revocationUnknown = true},
         Verdict::Rejected,
         {"revoked", "untrusted-chain"}},
        {"every Indeterminado reason is told",
         {.untrustedChain = true, .revocationUnknown = true, .expiredAtReference = true},
         Verdict::Indeterminate,
         {"untrusted-chain", "revocation-unknown", "expired-no-timestamp"}},
    };
    for (const Row& row : rows) {
        const Judgement judgement = judgeSigner(row.facts);
        EXPECT_EQ(judgement.verdict, row.verdict) << row.what;
        EXPECT_EQ(codesOf(judgement), row.codes) << row.what;
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
    EXPECT_EQ(codesOf(worst), QStringList({"revocation-unknown", "revoked"}));
    EXPECT_EQ(judgeFile(FileFailure::None, {}).verdict, Verdict::Rejected) << "no signer";

    const std::vector<std::pair<FileFailure, const char*>> failures = {
        {FileFailure::InvalidFile, "invalid-file"},
        {FileFailure::ContentTampered, "content-tampered"},
        {FileFailure::SignatureInvalid, "signature-invalid"},
    };
    for (const auto& [failure, code] : failures) {
        const Judgement file = judgeFile(failure, {});
        EXPECT_EQ(file.verdict, Verdict::Rejected) << code;
        EXPECT_EQ(codesOf(file), QStringList({code}));
    }
    EXPECT_EQ(verdictWord(Verdict::Approved), "Aprovado");
    EXPECT_EQ(verdictWord(Verdict::Rejected), "Reprovado");
    EXPECT_EQ(verdictWord(Verdict::Indeterminate), "Indeterminado");
}

} // namespace

// The facts of a signer, worked out from what verifying it found. Each row
// changes one thing of a signer whose chain (its certificate, an
// intermediate, the anchor) is valid, trusted and not revoked.
namespace {

namespace fx = selavia::fixtures;
namespace sig = selavia::signature;

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

void expireSigner(SignerEntry& signer, const QDateTime& from, const QDateTime& to)
{
    signer.status.chain[0].certificate = certificateValid(from, to);
}

struct FactRow {
    const char* what;
    std::function<void(SignerEntry&)> change;
    SignerFacts facts;
};

std::string describe(const SignerFacts& f)
{
    std::string text;
    const std::pair<bool, const char*> flags[] = {
        {f.revokedBeforeReference, "revoked "},
        {f.timestampInvalid, "timestampInvalid "},
        {f.policyViolation, "policy "},
        {f.signingCertificateMismatch, "mismatch "},
        {f.notMeantForSignatures, "keyUsage "},
        {f.untrustedChain, "untrusted "},
        {f.revocationUnknown, "revocationUnknown "},
        {f.expiredAtReference, "expired "},
        {f.notYetValidAtReference, "notYetValid "},
        {f.validTimestamp, "validTimestamp "},
    };
    for (const auto& [set, name] : flags)
        text += set ? name : "";
    return text.empty() ? "(none)" : text;
}

} // namespace

TEST(VerdictFactsTest, EachFindingBecomesItsFactAtTheReferenceTime)
{
    using State = sig::RevocationState;
    const QDateTime stampTime = at(2026, 6, 1);
    const std::vector<FactRow> rows = {
        {"nothing wrong", [](SignerEntry&) {}, {}},
        {"the signer's certificate revoked before now",
         [](SignerEntry& s) {
             s.status.chain[0].revocation = revocation(State::Revoked, at(2026, 3, 1));
         },
         {.revokedBeforeReference = true}},
        {"an intermediate revoked before now",
         [](SignerEntry& s) {
             s.status.chain[1].revocation = revocation(State::Revoked, at(2026, 3, 1));
         },
         {.revokedBeforeReference = true}},
        {"revoked without a date",
         [](SignerEntry& s) { s.status.chain[0].revocation = revocation(State::Revoked); },
         {.revokedBeforeReference = true}},
        {"revoked after a valid token's time: valid when it signed",
         [&](SignerEntry& s) {
             s.timestamp = token(true, stampTime);
             s.status.chain[0].revocation = revocation(State::Revoked, at(2026, 9, 1));
         },
         {.validTimestamp = true}},
        {"revoked before a valid token's time",
         [&](SignerEntry& s) {
             s.timestamp = token(true, stampTime);
             s.status.chain[0].revocation = revocation(State::Revoked, at(2026, 2, 1));
         },
         {.revokedBeforeReference = true, .validTimestamp = true}},
        {"a token that does not verify moves nothing",
         [&](SignerEntry& s) {
             s.timestamp = token(false, stampTime);
             s.status.chain[0].revocation = revocation(State::Revoked, at(2026, 9, 1));
         },
         {.revokedBeforeReference = true, .timestampInvalid = true}},
        {"policy not conforming",
         [](SignerEntry& s) {
             s.policy = PolicyCheck{.oid = "2.16.76.1.7.1.2.2.3",
                                    .name = "AD-RT v2.3",
                                    .conforms = false,
                                    .problems = {}};
         },
         {.policyViolation = true}},
        {"policy conforming",
         [](SignerEntry& s) {
             s.policy = PolicyCheck{.oid = "2.16.76.1.7.1.1.2.3",
                                    .name = "AD-RB v2.3",
                                    .conforms = true,
                                    .problems = {}};
         },
         {}},
        {"signing certificate mismatch",
         [](SignerEntry& s) { s.signingCertificateMismatch = true; },
         {.signingCertificateMismatch = true}},
        {"not meant for signatures",
         [](SignerEntry& s) { s.status.meantForSignatures = false; },
         {.notMeantForSignatures = true}},
        {"untrusted chain",
         [](SignerEntry& s) { s.status.chainTrusted = false; },
         {.untrustedChain = true}},
        {"revocation unknown for the signer's certificate",
         [](SignerEntry& s) { s.status.chain[0].revocation = revocation(State::Unknown); },
         {.revocationUnknown = true}},
        {"revocation unknown for an intermediate",
         [](SignerEntry& s) { s.status.chain[1].revocation = revocation(State::Unknown); },
         {.revocationUnknown = true}},
        {"the top of the chain has no issuer to ask",
         [](SignerEntry& s) { s.status.chain[2].revocation = revocation(State::Unknown); },
         {}},
        {"expired now, no token",
         [](SignerEntry& s) { expireSigner(s, at(2024, 1, 1), at(2026, 7, 1)); },
         {.expiredAtReference = true}},
        {"expired now, valid at a valid token's time",
         [&](SignerEntry& s) {
             expireSigner(s, at(2024, 1, 1), at(2026, 7, 1));
             s.timestamp = token(true, stampTime);
         },
         {.validTimestamp = true}},
        {"expired already at the token's time",
         [&](SignerEntry& s) {
             expireSigner(s, at(2024, 1, 1), at(2026, 5, 1));
             s.timestamp = token(true, stampTime);
         },
         {.expiredAtReference = true, .validTimestamp = true}},
        {"expired now, the token does not verify",
         [&](SignerEntry& s) {
             expireSigner(s, at(2024, 1, 1), at(2026, 7, 1));
             s.timestamp = token(false, stampTime);
         },
         {.timestampInvalid = true, .expiredAtReference = true}},
        {"an intermediate expired",
         [](SignerEntry& s) {
             s.status.chain[1].certificate = certificateValid(at(2020, 1, 1), at(2026, 1, 1));
         },
         {.expiredAtReference = true}},
        {"not yet valid",
         [](SignerEntry& s) { expireSigner(s, at(2027, 1, 1), at(2028, 1, 1)); },
         {.notYetValidAtReference = true}},
        {"not yet valid at the token's time",
         [&](SignerEntry& s) {
             expireSigner(s, at(2026, 8, 1), at(2028, 1, 1));
             s.timestamp = token(true, stampTime);
         },
         {.notYetValidAtReference = true, .validTimestamp = true}},
    };
    for (const FactRow& row : rows) {
        SignerEntry signer = soundSigner();
        row.change(signer);
        const SignerFacts facts = signerFacts(signer, kCheckedAt);
        EXPECT_EQ(describe(facts), describe(row.facts)) << row.what;
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
    EXPECT_EQ(codesOf(judged.file), QStringList({"untrusted-chain"}));

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
        EXPECT_EQ(codesOf(judged.file), QStringList({code}));
    }
}
