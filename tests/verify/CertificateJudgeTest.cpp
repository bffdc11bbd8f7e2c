// A certificate judged at a time: its path as the platform built it, its
// dates and its revocation, for signers and time-stamp authorities alike.

#include "verify/CertificateJudge.h"

#include "tests/support/Fixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/Signatures.h"

#include <gtest/gtest.h>
#include <memory>

using namespace selavia::testing;
using namespace selavia::verify;

namespace {

QDateTime utcOf(std::time_t when)
{
    return QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
}

const fx::Hierarchy& icp()
{
    static const fx::Hierarchy hierarchy = fx::icpBrasilHierarchy();
    return hierarchy;
}

// A message of `signer` carrying the ICP-like chain and `crls`, verified
// against the ICP-like root, kept alive with its certificates.
std::shared_ptr<sig::SignedData> verifiedWith(const fx::Cert& signer,
                                              std::vector<std::shared_ptr<X509_CRL>> crls)
{
    fx::MessageSpec message = icpMessage(signer);
    message.crls = std::move(crls);
    auto data = std::make_shared<sig::SignedData>(trustingIcp());
    data->verify(bytes(fx::makeSignedMessage(message)));
    return data;
}

TEST(CertificateJudgeTest, RevocationAndDatesCountAtTheTimeTheyAreJudgedAt)
{
    const std::time_t now = std::time(nullptr);
    const std::time_t revokedOn = now - 10 * kDay;
    const fx::Cert signer =
        icpSigner("FULANO:12345678901", "12345678901", now - kYear, now + kYear);
    const fx::Cert expired =
        icpSigner("EXPIRADO:12345678901", "12345678901", now - kYear, now - 20 * kDay);
    const fx::Cert notYet =
        icpSigner("FUTURO:12345678901", "12345678901", now + 20 * kDay, now + kYear);
    const auto listing = [&](std::vector<fx::Cert> revoked) {
        return std::vector<std::shared_ptr<X509_CRL>>{fx::makeCrl({.issuer = &icp().intermediate,
                                                                   .revoked = std::move(revoked),
                                                                   .revocationDate = revokedOn,
                                                                   .reason = 1}),
                                                      fx::makeCrl({.issuer = &icp().root})};
    };
    const auto intermediateRevoked = std::vector<std::shared_ptr<X509_CRL>>{
        fx::makeCrl({.issuer = &icp().intermediate}),
        fx::makeCrl(
            {.issuer = &icp().root, .revoked = {icp().intermediate}, .revocationDate = revokedOn})};
    struct Row {
        const char* what;
        fx::Cert cert;
        std::vector<std::shared_ptr<X509_CRL>> crls;
        std::time_t at;
        JudgedAt judgedAt;
        bool valid;
        bool revoked, expired, notYetValid, revocationUnknown;
        const char* problem; // a line the problems hold; empty when valid
    };
    const std::vector<Row> rows = {
        {"sound, every list known", signer, listing({}), now, JudgedAt::Check, true, false, false,
         false, false, ""},
        {"revoked before the time", signer, listing({signer}), now, JudgedAt::Check, false, true,
         false, false, false, "FULANO:12345678901: o certificado foi revogado em "},
        {"revoked after the time", signer, listing({signer}), revokedOn - kDay, JudgedAt::Check,
         true, false, false, false, false, ""},
        {"revoked at the very time", signer, listing({signer}), revokedOn, JudgedAt::Check, false,
         true, false, false, false, "o certificado foi revogado em "},
        {"the intermediate revoked before the time", signer, intermediateRevoked, now,
         JudgedAt::Check, false, true, false, false, false,
         "AC Intermediaria de Teste v5: o certificado foi revogado em "},
        {"the intermediate revoked after the time", signer, intermediateRevoked, revokedOn - kDay,
         JudgedAt::Check, true, false, false, false, false, ""},
        {"expired", expired, listing({}), now, JudgedAt::Check, false, false, true, false, false,
         "EXPIRADO:12345678901: o certificado expirou"},
        {"expired, judged inside its validity", expired, listing({}), now - 30 * kDay,
         JudgedAt::Check, true, false, false, false, false, ""},
        // The lists were issued before the time-stamp: they say nothing of it.
        {"expired at a time-stamp's time", expired, listing({}), now, JudgedAt::TimeStamp, false,
         false, true, false, true,
         "EXPIRADO:12345678901: fora da validade na data do carimbo do tempo"},
        {"not yet valid", notYet, listing({}), now, JudgedAt::Check, false, false, false, true,
         false, "FUTURO:12345678901: o certificado ainda não é válido"},
        // By then the lists are past their next update.
        {"not yet valid, judged later", notYet, listing({}), now + 30 * kDay, JudgedAt::Check, true,
         false, false, false, true, ""},
        // Nobody could say: a fact for the verdict, not a fault of the path.
        {"no list at all", signer, {}, now, JudgedAt::Check, true, false, false, false, true, ""},
        {"only the intermediate's list",
         signer,
         {listing({}).front()},
         now,
         JudgedAt::Check,
         true,
         false,
         false,
         false,
         true,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto data = verifiedWith(row.cert, row.crls);
        const CertificateStatus status =
            judgeCertificate(data->signers().at(0).certificate(), sig::CertificateRole::Signer,
                             utcOf(row.at), row.judgedAt);
        EXPECT_EQ(status.result, row.valid) << joined(status.problems);
        EXPECT_EQ(status.revoked, row.revoked);
        EXPECT_EQ(status.expired, row.expired);
        EXPECT_EQ(status.notYetValid, row.notYetValid);
        EXPECT_EQ(status.revocationUnknown, row.revocationUnknown);
        EXPECT_TRUE(status.chainTrusted);
        EXPECT_EQ(status.at, utcOf(row.at));
        EXPECT_EQ(status.chain.size(), 3u);
        if (row.valid) {
            EXPECT_TRUE(status.problems.isEmpty()) << joined(status.problems);
        } else {
            EXPECT_TRUE(status.problems.join('\n').contains(row.problem))
                << joined(status.problems);
        }
    }
}

TEST(CertificateJudgeTest, EvidenceProvesOnlyWhatItsDatesAllow)
{
    const QDateTime at = utcOf(std::time(nullptr));
    using V = RevocationVerdict;
    constexpr auto kCheck = JudgedAt::Check;
    constexpr auto kStamp = JudgedAt::TimeStamp;
    const auto good = sig::RevocationState::Good;
    const auto revoked = sig::RevocationState::Revoked;
    struct Row {
        const char* what;
        sig::RevocationState state;
        QDateTime revokedAt;
        QDateTime thisUpdate;
        QDateTime nextUpdate;
        JudgedAt judgedAt;
        V verdict;
    };
    const std::vector<Row> rows = {
        {"revoked, no date", revoked, {}, at.addDays(-9), {}, kCheck, V::Revoked},
        {"revoked a day before", revoked, at.addDays(-1), at.addDays(-9), {}, kStamp, V::Revoked},
        {"revoked at the time", revoked, at, at, {}, kStamp, V::Revoked},
        {"revoked before, list long stale", revoked, at.addDays(-30), at.addDays(-20),
         at.addDays(-19), kCheck, V::Revoked},
        {"revoked after the time-stamp", revoked, at.addDays(1), at.addDays(2), at.addDays(9),
         kStamp, V::NotRevoked},
        {"revoked a minute after the check",
         revoked,
         at.addSecs(60),
         at.addSecs(60),
         {},
         kCheck,
         V::Revoked},
        {"revoked after the check", revoked, at.addDays(1), at.addDays(-1), at.addDays(6), kCheck,
         V::Unknown},
        {"good, current", good, {}, at.addDays(-1), at.addDays(6), kCheck, V::NotRevoked},
        {"good, stale", good, {}, at.addDays(-9), at.addDays(-2), kCheck, V::Unknown},
        {"good, no next update, fresh", good, {}, at.addSecs(-3600), {}, kCheck, V::NotRevoked},
        {"good, no next update, old", good, {}, at.addDays(-3), {}, kCheck, V::Unknown},
        {"good, issued before the time-stamp",
         good,
         {},
         at.addDays(-1),
         at.addDays(6),
         kStamp,
         V::Unknown},
        {"good, issued after the time-stamp",
         good,
         {},
         at.addDays(1),
         at.addDays(2),
         kStamp,
         V::NotRevoked},
        {"good, without dates", good, {}, {}, {}, kStamp, V::NotRevoked},
        {"unknown", sig::RevocationState::Unknown, {}, at.addDays(1), {}, kStamp, V::Unknown},
    };
    for (const Row& row : rows) {
        sig::RevocationStatus status;
        status.state = row.state;
        status.revokedAt = row.revokedAt;
        status.thisUpdate = row.thisUpdate;
        status.nextUpdate = row.nextUpdate;
        EXPECT_EQ(revocationAt(status, at, row.judgedAt), row.verdict) << row.what;
    }
}

TEST(CertificateJudgeTest, WhatCannotBeJudgedIsNeverValid)
{
    const auto data = verifiedWith(icpSigner(), {});
    const sig::Certificate& certificate = data->signers().at(0).certificate();
    const CertificateStatus noTime =
        judgeCertificate(certificate, sig::CertificateRole::Signer, QDateTime());
    EXPECT_FALSE(noTime.result);
    EXPECT_FALSE(noTime.problems.isEmpty());
    const CertificateStatus none = judgeCertificate(
        sig::Certificate(), sig::CertificateRole::Signer, QDateTime::currentDateTimeUtc());
    EXPECT_FALSE(none.result);
    EXPECT_FALSE(none.trusted);
    // Out of its message the certificate has no path to any root.
    const sig::Certificate alone(certificate.handle(), nullptr);
    EXPECT_FALSE(
        judgeCertificate(alone, sig::CertificateRole::Signer, QDateTime::currentDateTimeUtc())
            .result);
}

// A signature time-stamp judged: the token's own checks, then its
// authority's path at the token's time.
const fx::Cert& tsa()
{
    static const fx::Cert cert = fx::makeTsa(icp().intermediate);
    return cert;
}

fx::Bytes messageOf(const fx::Cert& signer, std::vector<std::shared_ptr<X509_CRL>> crls = {})
{
    fx::MessageSpec message;
    message.content = "%PDF-1.4 conteudo do contrato";
    message.signers = {{.cert = signer}};
    message.extraCertificates = {icp().intermediate, icp().root};
    message.crls = std::move(crls);
    return fx::makeSignedMessage(message);
}

// Signer 1 of `message` read and judged, after the validation phase when asked.
SignatureResult signerOf(const fx::Bytes& message, bool validationPhase = false)
{
    sig::SignedData data(storeTrusting({&icp().root}));
    data.verify(bytes(message));
    if (validationPhase) {
        EXPECT_TRUE(data.prepareValidation());
    }
    return readSigner(data.signers().at(0), 1);
}

TEST(TimeStampJudgeTest, AValidTokenGivesItsTimeItsAuthorityAndTheChain)
{
    const std::time_t genTime = std::time(nullptr) - 3600;
    const SignatureResult signer =
        signerOf(fx::withTimeStamp(messageOf(icpSigner()), 0, {.tsa = tsa(), .genTime = genTime}));
    ASSERT_TRUE(signer.timestamp.has_value());
    const TimeStampResult& token = *signer.timestamp;
    EXPECT_TRUE(token.valid) << joined(token.problems);
    EXPECT_EQ(token.genTime, utcOf(genTime));
    EXPECT_EQ(token.tsaName, "ACT de Teste");
    ASSERT_EQ(token.tsaChain.size(), 3u);
    EXPECT_EQ(token.tsaChain[0].thumbprint, thumbprintOf(tsa()));
    EXPECT_EQ(token.tsaChain[2].thumbprint, thumbprintOf(icp().root));
    // The valid token is the time the signature is judged at.
    EXPECT_EQ(signer.bestSignatureTime, utcOf(genTime));
    ASSERT_TRUE(signer.validAtTimestamp.has_value());
}

TEST(TimeStampJudgeTest, TheAuthorityIsJudgedAtTheTokensTime)
{
    const std::time_t now = std::time(nullptr);
    const fx::Bytes base = messageOf(icpSigner());
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    fx::TokenSpec untrusted{.tsa = fx::makeTsa(foreign.intermediate)};
    untrusted.chain = {foreign.intermediate, foreign.root};
    // A TSA whose certificate expired since: its tokens from its time stand.
    const fx::Cert expired =
        fx::makeTsa(icp().intermediate, fx::TsaUsage::TimeStamping, now - 3 * kYear, now - kYear);
    struct Row {
        const char* what;
        fx::Bytes message;
        QStringList problems;
        bool forged; // the token's own fault, not its authority's
    };
    const std::vector<Row> rows = {
        {"untrusted authority",
         fx::withTimeStamp(base, 0, untrusted),
         {"a cadeia da ACT não chega a uma raiz confiável"},
         false},
        {"expired authority, token of its time",
         fx::withTimeStamp(base, 0, {.tsa = expired, .genTime = now - 2 * kYear}),
         {},
         false},
        {"expired authority, token after",
         fx::withTimeStamp(base, 0, {.tsa = expired, .genTime = now - kDay}),
         {"ACT de Teste: fora da validade na data do carimbo do tempo"},
         false},
        {"over other bytes",
         fx::withUnsignedAttribute(base, 0, fx::kTimeStampTokenOid,
                                   {fx::makeTimeStampToken("outros bytes", {.tsa = tsa()})}),
         {"o carimbo do tempo não corresponde a esta assinatura"},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const SignatureResult signer = signerOf(row.message);
        ASSERT_TRUE(signer.timestamp.has_value());
        EXPECT_EQ(signer.timestamp->problems, row.problems);
        EXPECT_EQ(signer.timestamp->valid, row.problems.isEmpty());
        EXPECT_EQ(signer.timestamp->tokenProblems.isEmpty(), !row.forged);
        // A token that proves nothing leaves the signature at the time of the check.
        if (!row.problems.isEmpty()) {
            EXPECT_FALSE(signer.validAtTimestamp.has_value());
        }
    }
    // The untrusted authority is still named.
    EXPECT_EQ(signerOf(fx::withTimeStamp(base, 0, untrusted)).timestamp->tsaName, "ACT de Teste");
}

TEST(TimeStampJudgeTest, AnAuthorityRevokedBeforeItsTokenFailsItRevokedAfterItDoesNot)
{
    const std::time_t now = std::time(nullptr);
    // Inside the authority's validity (from a day ago), the revocations around it.
    const std::time_t genTime = now - kDay / 2;
    const fx::Cert revokedTsa = fx::makeTsa(icp().intermediate);
    for (const auto& [revocationDate, validThen] : std::vector<std::pair<std::time_t, bool>>{
             {genTime - kDay / 4, false}, {genTime + kDay / 4, true}}) {
        SCOPED_TRACE(validThen ? "revoked after the token" : "revoked before the token");
        const fx::Bytes message =
            fx::withTimeStamp(messageOf(icpSigner(), {fx::makeCrl({.issuer = &icp().intermediate,
                                                                   .revoked = {revokedTsa},
                                                                   .revocationDate = revocationDate,
                                                                   .reason = 1})}),
                              0, {.tsa = revokedTsa, .genTime = genTime});
        const SignatureResult signer = signerOf(message, true);
        ASSERT_TRUE(signer.timestamp.has_value());
        const TimeStampResult& token = *signer.timestamp;
        EXPECT_EQ(token.valid, validThen) << joined(token.problems);
        EXPECT_TRUE(token.tokenProblems.isEmpty());
        ASSERT_EQ(token.tsaChain.size(), 3u);
        if (!validThen) {
            ASSERT_EQ(token.problems.size(), 1) << joined(token.problems);
            EXPECT_TRUE(
                token.problems[0].startsWith("ACT de Teste: o certificado foi revogado em "))
                << joined(token.problems);
            // Revoked is no forgery: the authority cannot be relied on.
            EXPECT_EQ(signer.judgement.reasons.at(0).code, "timestamp-untrusted");
        }
    }
}

TEST(TimeStampJudgeTest, TheAuthorityChainMayBeCompletedOnlyByTheTokensCertificates)
{
    // The intermediate travels only inside the token: the validation phase
    // still finds the whole chain.
    fx::MessageSpec bare;
    bare.signers = {{.cert = icpSigner()}};
    fx::TokenSpec withChain{.tsa = tsa()};
    withChain.chain = {icp().intermediate};
    const SignatureResult signer =
        signerOf(fx::withTimeStamp(fx::makeSignedMessage(bare), 0, withChain), true);
    ASSERT_TRUE(signer.timestamp.has_value());
    EXPECT_TRUE(signer.timestamp->valid) << joined(signer.timestamp->problems);
    EXPECT_EQ(signer.timestamp->tsaChain.size(), 3u);
    // And what the token carried helps the signer's own chain too.
    EXPECT_TRUE(signer.status.chainTrusted) << joined(signer.status.problems);
    EXPECT_EQ(signer.status.chain.size(), 3u);
}

} // namespace
