#include "verify/Verdict.h"

#include <QStringList>
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
