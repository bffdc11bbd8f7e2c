#include "verify/Verdict.h"

#include "tests/support/VerdictStates.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/Verification.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <tuple>

using namespace selavia::testing;
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

// The combinations of facts where one fact changes what another means:
// what a single-fact row of the table cannot show.
TEST(VerdictTest, FactsThatMeetAreWeighedTogether)
{
    struct Row {
        const char* what;
        SignerFacts facts;
        Verdict verdict;
        const char* codes;
        const char* subIndication;
    };
    const std::vector<Row> rows = {
        {"revoked outweighs untrusted, and makes an unknown revocation moot",
         {.revokedBeforeReference = true,
          .revokedForCompromise = true,
          .untrustedChain = true,
          .revocationUnknown = true},
         Verdict::Rejected,
         "revoked untrusted-chain",
         "REVOKED"},
        // Superseded, cessation of operation...: the key stayed the holder's,
        // and without proof of when it signed the signature may predate it.
        {"revoked for another reason than a compromise, no proof of existence",
         {.revokedBeforeReference = true},
         Verdict::Indeterminate,
         "revoked-no-poe",
         "REVOKED_NO_POE"},
        {"revoked for any reason before a proof of existence",
         {.revokedBeforeReference = true, .validTimestamp = true},
         Verdict::Rejected,
         "revoked",
         "REVOKED"},
        {"a format fault and a weak algorithm: the fault decides, both told",
         {.formatViolation = true, .weakAlgorithm = true},
         Verdict::Rejected,
         "format weak-algorithm",
         "FORMAT_FAILURE"},
        {"every Indeterminado reason is told, the first names the sub-indication",
         {.untrustedChain = true, .revocationUnknown = true, .expiredAtReference = true},
         Verdict::Indeterminate,
         "untrusted-chain revocation-unknown expired-no-timestamp",
         "NO_CERTIFICATE_CHAIN_FOUND"},
        {"a valid time-stamp alone changes nothing",
         {.validTimestamp = true},
         Verdict::Approved,
         "",
         ""},
        {"a forged token is Reprovado even with an untrusted authority",
         {.timestampInvalid = true, .timestampUntrusted = true},
         Verdict::Rejected,
         "timestamp-invalid timestamp-untrusted",
         "SIG_CRYPTO_FAILURE"},
        {"a token whose authority cannot be judged proves no date",
         {.timestampUntrusted = true, .expiredAtReference = true},
         Verdict::Indeterminate,
         "timestamp-untrusted expired-no-timestamp",
         "NO_POE"},
        {"a counter-signature that does not verify is Reprovado whatever else",
         {.signatureInvalid = true, .untrustedChain = true},
         Verdict::Rejected,
         "signature-invalid untrusted-chain",
         "SIG_CRYPTO_FAILURE"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Judgement judgement = judgeSigner(row.facts);
        EXPECT_EQ(judgement.verdict, row.verdict);
        EXPECT_EQ(codesOf(judgement), row.codes);
        EXPECT_EQ(judgement.subIndication, row.subIndication);
        EXPECT_EQ(judgement.indication, row.verdict == Verdict::Approved ? Indication::TotalPassed
                                        : row.verdict == Verdict::Rejected
                                            ? Indication::TotalFailed
                                            : Indication::Indeterminate);
    }
    // Expired at the time of the check and expired at a time-stamp's time
    // share a code but not the words: the report tells which.
    const Judgement unstamped = judgeSigner({.expiredAtReference = true});
    const Judgement stamped = judgeSigner({.expiredAtReference = true, .validTimestamp = true});
    EXPECT_EQ(codesOf(unstamped), codesOf(stamped));
    EXPECT_NE(unstamped.reasons.at(0).text, stamped.reasons.at(0).text);
}

TEST(VerdictTest, TheFileTakesTheWorstAndTellsEachReasonOnce)
{
    const Judgement approved = judgeSigner({});
    const Judgement unknown = judgeSigner({.revocationUnknown = true});
    const Judgement revoked =
        judgeSigner({.revokedBeforeReference = true, .revokedForCompromise = true});

    EXPECT_EQ(judgeFile(FileFailure::None, {approved, approved}).verdict, Verdict::Approved);
    EXPECT_EQ(judgeFile(FileFailure::None, {approved, unknown}).verdict, Verdict::Indeterminate);
    const Judgement worst = judgeFile(FileFailure::None, {unknown, revoked, unknown});
    EXPECT_EQ(worst.verdict, Verdict::Rejected);
    EXPECT_EQ(worst.subIndication, "REVOKED");
    EXPECT_EQ(codesOf(worst), "revocation-unknown revoked");
    const Judgement none = judgeFile(FileFailure::None, {});
    EXPECT_EQ(none.verdict, Verdict::Rejected) << "no signer proves nothing";
    EXPECT_EQ(codesOf(none), "invalid-file");
    // A file that failed is judged by its failure, not by what it held.
    const Judgement failed = judgeFile(FileFailure::ContentTampered, {approved});
    EXPECT_EQ(failed.verdict, Verdict::Rejected);
    EXPECT_EQ(codesOf(failed), "content-tampered");
    EXPECT_EQ(judgeFile(FileFailure::UnsupportedAlgorithm, {}).verdict, Verdict::Indeterminate);

    EXPECT_EQ(verdictLine(worst).left(20), "Resultado: Reprovado");
    EXPECT_TRUE(verdictLine(worst).contains(revoked.reasons.at(0).text));
    EXPECT_EQ(verdictLine(approved), "Resultado: Aprovado");
}

// Each state of the shared table, through the one way in, then the states
// that only the judging at a time tells apart.
struct EndToEnd {
    const char* name;
    fx::Bytes message;
    Verdict verdict;
    QStringList codes;
};

ValidationResult runState(const fx::Bytes& message, bool trusted = true)
{
    const VerdictState state{.name = "", .message = message, .trusted = trusted};
    const QByteArray raw = bytes(message);
    return Verification(stateOptions(state)).readBytes(QStringLiteral("x.slv"), raw).run();
}

QStringList codeList(const Judgement& judgement)
{
    QStringList codes;
    for (const VerdictReason& reason : judgement.reasons)
        codes << reason.code;
    return codes;
}

TEST(VerdictEndToEndTest, EveryStateOfTheSharedTableIsJudgedAsItSays)
{
    for (const VerdictState& state : verdictStates()) {
        SCOPED_TRACE(state.name);
        const QByteArray raw = bytes(state.message);
        const ValidationResult result =
            Verification(stateOptions(state)).readBytes(QStringLiteral("x.slv"), raw).run();
        EXPECT_EQ(result.verdict.verdict, state.verdict);
        EXPECT_EQ(codeList(result.verdict), state.codes);
        // The file's verdict is its signers': none is better than the file.
        for (const SignatureResult& signer : result.signers)
            EXPECT_LE(signer.judgement.verdict, result.verdict.verdict);
    }
}

TEST(VerdictEndToEndTest, TimesAuthoritiesAndCounterSignaturesAreJudgedWhereTheyCount)
{
    const std::time_t now = std::time(nullptr);
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    const fx::Cert signer = icpSigner("MARIA DA SILVA:12345678901", "12345678901");
    const fx::Bytes good = fx::makeSignedMessage(withCrls(icpMessage(signer, "contrato.pdf")));
    const auto revokedOn = [&](std::time_t date) {
        return fx::makeSignedMessage(withCrls(
            icpMessage(signer, "contrato.pdf"),
            {fx::makeCrl(
                 {.issuer = &icp.intermediate, .revoked = {signer}, .revocationDate = date}),
             fx::makeCrl({.issuer = &icp.root})}));
    };
    fx::TokenSpec untrustedStamp{.tsa = fx::makeTsa(foreign.intermediate)};
    untrustedStamp.chain = {foreign.intermediate, foreign.root};
    // A trusted authority's token dated a year after the check; and one a
    // minute ahead, which is only the two clocks disagreeing.
    const fx::TokenSpec yearAhead{.tsa = fx::makeTsa(icp.intermediate, fx::TsaUsage::TimeStamping,
                                                     now - 600 * kDay, now + 600 * kDay),
                                  .genTime = now + 365 * kDay};
    fx::TokenSpec minuteAhead = yearAhead;
    minuteAhead.genTime = now + 60;
    const fx::Cert counterSigner = fx::issueEndEntity(icp.intermediate, "TABELIAO DE NOTAS");
    const fx::Cert expiredCounterSigner =
        icpSigner("TABELIAO ANTIGO:12345678901", "12345678901", now - 400 * kDay, now - kDay);
    const std::vector<EndToEnd> rows = {
        {"revoked a day before the check", revokedOn(now - kDay), Verdict::Rejected, {"revoked"}},
        // A revocation dated after the list itself was issued proves nothing
        // about now: neither revoked nor vouched for.
        {"revoked with a date after the check",
         revokedOn(now + 30 * kDay),
         Verdict::Indeterminate,
         {"revocation-unknown"}},
        // Not a forgery: the token verifies, its authority just cannot be judged.
        {"a token by an authority outside the trusted roots",
         fx::withTimeStamp(good, 0, untrustedStamp),
         Verdict::Indeterminate,
         {"timestamp-untrusted"}},
        {"a token dated a year after the check",
         fx::withTimeStamp(good, 0, yearAhead),
         Verdict::Indeterminate,
         {"timestamp-untrusted"}},
        // The token counts (no timestamp-untrusted), but the lists carried
        // were issued before it: they cannot say the signer was not revoked then.
        {"a token a minute ahead of this clock",
         fx::withTimeStamp(good, 0, minuteAhead),
         Verdict::Indeterminate,
         {"revocation-unknown"}},
        {"a counter-signature that does not verify",
         fx::withCounterSignature(good, 0, {.cert = counterSigner, .tamperSignature = true}),
         Verdict::Rejected,
         {"signature-invalid"}},
        {"a counter-signature by an expired certificate",
         fx::withCounterSignature(good, 0, {.cert = expiredCounterSigner}),
         Verdict::Indeterminate,
         {"expired-no-timestamp"}},
    };
    for (const EndToEnd& row : rows) {
        SCOPED_TRACE(row.name);
        const ValidationResult result = runState(row.message);
        ASSERT_TRUE(result.verified()) << result.error->caption.toStdString();
        EXPECT_EQ(result.verdict.verdict, row.verdict);
        EXPECT_EQ(codeList(result.verdict), row.codes);
    }

    // A counter-signature's verdict is its own: the signature it signs stays Aprovado.
    const ValidationResult countered = runState(
        fx::withCounterSignature(good, 0, {.cert = counterSigner, .tamperSignature = true}));
    ASSERT_EQ(countered.signers.size(), 1u);
    EXPECT_EQ(countered.signers[0].judgement.verdict, Verdict::Approved);
    ASSERT_EQ(countered.signers[0].counterSignatures.size(), 1u);
    const CounterSignatureResult& counter = countered.signers[0].counterSignatures[0];
    EXPECT_FALSE(counter.valid);
    EXPECT_EQ(counter.judgement.verdict, Verdict::Rejected);
    EXPECT_FALSE(countered.acceptedAsIcpBrasil());
    EXPECT_TRUE(runState(good).acceptedAsIcpBrasil());

    // A failed file is judged by its failure and holds no signer.
    const fx::MessageSpec contract = withCrls(icpMessage(signer, "contrato.pdf"));
    const ValidationResult tampered =
        runState(fx::tamperContent(fx::makeSignedMessage(contract), contract.content));
    EXPECT_FALSE(tampered.verified());
    EXPECT_TRUE(tampered.signers.empty());
    EXPECT_EQ(codeList(tampered.verdict), QStringList{"content-tampered"});
    const ValidationResult garbage = runState("not a signed message");
    EXPECT_EQ(codeList(garbage.verdict), QStringList{"invalid-file"});
}

} // namespace
