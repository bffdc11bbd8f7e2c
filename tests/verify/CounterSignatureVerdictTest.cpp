// Every counter-signature counts in the file's verdict, however deep, and
// one that cannot be checked is not taken for a forgery.

#include "tests/support/VerdictStates.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"

#include <gtest/gtest.h>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

QString codesOf(const Judgement& judgement)
{
    QStringList codes;
    for (const VerdictReason& reason : judgement.reasons)
        codes << reason.code;
    return codes.join(' ');
}

} // namespace

TEST(CounterSignatureVerdictTest, EachCounterSignatureAtEveryDepthIsJudged)
{
    const fx::Cert notary = icpSigner("CARTORIO DE NOTAS:11122233344", "11122233344");
    const fx::Cert witness = icpSigner("TESTEMUNHA:55566677788", "55566677788");
    const fx::Bytes signed_ = fx::makeSignedMessage(withCrls(icpMessage(icpSigner(), "a.pdf")));
    const fx::Bytes parent = fx::signatureValueOf(signed_);
    const fx::Bytes first = fx::makeCounterSignature(parent, {.cert = notary});

    struct Case {
        const char* name;
        fx::Bytes counterSignature;
        std::vector<fx::Cert> certificates;
        std::vector<int> levels;
        std::vector<Verdict> verdicts;
        const char* codes; // the file's
        Verdict file;
    };
    const Case cases[] = {
        {"a counter-signature of a counter-signature",
         fx::counterSignedCounterSignature(first, {.cert = witness}),
         {notary, witness},
         {1, 2},
         {Verdict::Approved, Verdict::Approved},
         "",
         Verdict::Approved},
        {"a broken one below a good one",
         fx::counterSignedCounterSignature(first, {.cert = witness, .tamperSignature = true}),
         {notary, witness},
         {1, 2},
         {Verdict::Approved, Verdict::Rejected},
         "signature-invalid",
         Verdict::Rejected},
        // Nothing to check it with: no proof either way.
        {"its certificate left out",
         first,
         {},
         {1},
         {Verdict::Indeterminate},
         "untrusted-chain",
         Verdict::Indeterminate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fx::Bytes message = fx::withUnsignedAttribute(signed_, 0, fx::kCounterSignatureOid,
                                                            {c.counterSignature}, c.certificates);
        const ValidationResult result =
            Verification(trustingIcp()).readBytes(QString(), bytes(message)).run();
        ASSERT_TRUE(result.verified());
        const auto& counters = result.signers.at(0).counterSignatures;
        ASSERT_EQ(counters.size(), c.levels.size());
        for (std::size_t n = 0; n < counters.size(); ++n) {
            EXPECT_EQ(counters[n].level, c.levels[n]) << n;
            EXPECT_EQ(counters[n].judgement.verdict, c.verdicts[n])
                << n << ": " << verdictLine(counters[n].judgement).toStdString();
        }
        EXPECT_EQ(codesOf(result.verdict), c.codes);
        EXPECT_EQ(result.verdict.verdict, c.file);
    }
}
