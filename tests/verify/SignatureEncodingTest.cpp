// Signatures written in ways OpenSSL alone would misjudge: attributes stored
// out of DER order, attributes that may appear once appearing twice,
// algorithms that disagree or cannot be computed, an ESS identifier whose
// issuer and serial differ while its hash names the signer.

#include "platform/signature/SignatureError.h"
#include "tests/support/VerdictStates.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"

#include <gtest/gtest.h>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

// RSA: its signature values keep their length when made again.
fx::Cert rsaSigner()
{
    return icpSigner("FULANO DE TAL:98765432100", "12345678901", 0, 0, fx::KeyType::Rsa2048);
}

fx::MessageSpec twoAttributeMessage(std::vector<fx::AttributeSpec> attributes = {})
{
    fx::SignerSpec signer{.cert = rsaSigner()};
    signer.attributes = {fx::documentNameAttribute("contrato.pdf")};
    signer.attributes.insert(signer.attributes.end(), attributes.begin(), attributes.end());
    return withCrls(messageFor({signer}));
}

ValidationResult verifiedBytes(const fx::Bytes& message)
{
    return Verification(trustingIcp()).readBytes(QString(), bytes(message)).run();
}

QStringList codesOf(const Judgement& judgement)
{
    QStringList codes;
    for (const VerdictReason& reason : judgement.reasons)
        codes << reason.code;
    return codes;
}

// The last occurrence: the signer info comes after the certificates, which
// name the same algorithms.
fx::Bytes replacedLast(fx::Bytes message, const fx::Bytes& from, const fx::Bytes& to)
{
    const std::size_t at = message.rfind(from);
    EXPECT_NE(at, fx::Bytes::npos);
    EXPECT_EQ(from.size(), to.size());
    if (at != fx::Bytes::npos)
        message.replace(at, from.size(), to);
    return message;
}

const fx::Bytes kRsaEncryption("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01", 11);
const fx::Bytes kSha256WithRsa("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B", 11);
const fx::Bytes kSha512WithRsa("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0D", 11);
// Under PKCS#1's arc, assigned to nothing OpenSSL knows.
const fx::Bytes kUnknownSignature("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x63", 11);

} // namespace

TEST(SignatureEncodingTest, AttributesStoredOutOfDerOrderButSignedInItVerifyWithAWarning)
{
    const fx::Bytes message = fx::makeSignedMessage(twoAttributeMessage());
    const ValidationResult reordered = verifiedBytes(fx::withSignedAttributesReversed(message));
    ASSERT_TRUE(reordered.verified());
    EXPECT_EQ(reordered.verdict.verdict, Verdict::Approved)
        << verdictLine(reordered.verdict).toStdString();
    EXPECT_TRUE(reordered.signers.at(0).warnings.join(' ').contains("ordem DER"));
    // Stored in DER order, nothing to tell.
    EXPECT_TRUE(verifiedBytes(message).signers.at(0).warnings.isEmpty());
    // The retry is no way around a signature that fails in either order.
    const ValidationResult forged =
        verifiedBytes(fx::tamperSignature(fx::withSignedAttributesReversed(message)));
    EXPECT_FALSE(forged.verified());
    EXPECT_EQ(forged.verdict.verdict, Verdict::Rejected);
}

TEST(SignatureEncodingTest, ASigningTimeTwiceIsAFormatFailure)
{
    // A genuine signature over two signing-time attributes: written under a
    // spare OID of the same length, renamed, and signed again as stored.
    fx::AttributeSpec second = fx::signingTimeAttribute(fx::utc(2020, 1, 2));
    second.oid = "1.2.840.113549.1.9.99";
    const fx::MessageSpec spec = twoAttributeMessage({second});
    const fx::Bytes message =
        fx::withSignedAttributeRenamed(fx::makeSignedMessage(spec), 0, "1.2.840.113549.1.9.99",
                                       fx::kSigningTimeOid, spec.signers[0].cert.key);
    const ValidationResult twice = verifiedBytes(message);
    ASSERT_TRUE(twice.verified()) << (twice.error ? twice.error->caption.toStdString() : "");
    const Judgement& judgement = twice.signers.at(0).judgement;
    EXPECT_EQ(judgement.verdict, Verdict::Rejected);
    EXPECT_EQ(judgement.subIndication, "FORMAT_FAILURE");
    EXPECT_TRUE(codesOf(judgement).contains("format"))
        << codesOf(judgement).join(',').toStdString();
    EXPECT_EQ(twice.verdict.verdict, Verdict::Rejected);
}

TEST(SignatureEncodingTest, TheSignatureAlgorithmMustNameTheDigestAlgorithmsHash)
{
    struct Case {
        const char* name;
        fx::Bytes signatureAlgorithm;
        bool verified;
        Verdict verdict;
    };
    const Case cases[] = {
        {"the key's algorithm alone", kRsaEncryption, true, Verdict::Approved},
        {"the same hash named", kSha256WithRsa, true, Verdict::Approved},
        // Verifies under SHA-256, which it does not claim: not a signature.
        {"another hash named", kSha512WithRsa, false, Verdict::Rejected},
        // Cannot be checked here: neither intact nor violated.
        {"an algorithm unknown here", kUnknownSignature, false, Verdict::Indeterminate},
    };
    const fx::Bytes message = fx::makeSignedMessage(twoAttributeMessage());
    for (const Case& c : cases) {
        const ValidationResult result =
            verifiedBytes(replacedLast(message, kRsaEncryption, c.signatureAlgorithm));
        EXPECT_EQ(result.verified(), c.verified) << c.name;
        EXPECT_EQ(result.verdict.verdict, c.verdict)
            << c.name << ": " << verdictLine(result.verdict).toStdString();
    }
}

TEST(SignatureEncodingTest, AnUnsupportedAlgorithmIsItsOwnResult)
{
    const fx::Bytes message = replacedLast(fx::makeSignedMessage(twoAttributeMessage()),
                                           kRsaEncryption, kUnknownSignature);
    const ValidationResult result = verifiedBytes(message);
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(result.error->codeText, selavia::signature::signedDecimalText(
                                          selavia::signature::code::kUnsupportedAlgorithm));
    EXPECT_EQ(codesOf(result.verdict), QStringList{"unsupported-algorithm"});
    EXPECT_EQ(result.verdict.subIndication, "CRYPTO_CONSTRAINTS_FAILURE");
}

TEST(SignatureEncodingTest, AnIssuerSerialMismatchWithTheRightHashIsOnlyAWarning)
{
    const fx::Cert signer = icpSigner();
    const fx::Cert other = icpSigner("OUTRO NOME:11122233344");
    fx::SignerSpec spec{.cert = signer};
    spec.attributes = {
        fx::signingCertificateAttribute({.hashOf = &signer, .issuerSerialOf = &other})};
    const ValidationResult result = verifiedDocument(withCrls(messageFor({spec})));
    const SignatureResult& entry = result.signers.at(0);
    EXPECT_FALSE(entry.signingCertificateMismatch);
    EXPECT_EQ(entry.judgement.verdict, Verdict::Approved)
        << verdictLine(entry.judgement).toStdString();
    EXPECT_TRUE(entry.warnings.join(' ').contains("número de série"));
}

TEST(SignatureEncodingTest, WeakAlgorithmsAreToldAndWithoutEarlierProofLeaveItIndeterminate)
{
    fx::SignerSpec spec{.cert = icpSigner(), .digest = fx::Digest::Sha1};
    const ValidationResult result = verifiedDocument(withCrls(messageFor({spec})));
    const SignatureResult& entry = result.signers.at(0);
    EXPECT_TRUE(entry.warnings.join(' ').contains("SHA-1"))
        << entry.algorithms.digest.toStdString() << " " << entry.algorithms.signature.toStdString()
        << " " << entry.warnings.join(';').toStdString();
    EXPECT_EQ(entry.judgement.subIndication, "CRYPTO_CONSTRAINTS_FAILURE_NO_POE");
    EXPECT_EQ(entry.judgement.verdict, Verdict::Indeterminate);
    // SHA-256 and a 2048-bit key: nothing weak.
    const ValidationResult strong = verifiedDocument(withCrls(messageFor({{.cert = icpSigner()}})));
    EXPECT_TRUE(strong.signers.at(0).warnings.isEmpty());
    EXPECT_EQ(strong.signers.at(0).judgement.verdict, Verdict::Approved);
}
