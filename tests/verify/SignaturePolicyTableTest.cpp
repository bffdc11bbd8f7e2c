#include "verify/SignaturePolicyTable.h"

#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"

#include <gtest/gtest.h>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

const QString kContentType = "1.2.840.113549.1.9.3";
const QString kMessageDigest = "1.2.840.113549.1.9.4";
const QString kSigningCertificateV1 = "1.2.840.113549.1.9.16.2.12";
const QString kSigningCertificateV2 = "1.2.840.113549.1.9.16.2.47";
const QString kPolicy = "1.2.840.113549.1.9.16.2.15";
const QString kTimeStamp = "1.2.840.113549.1.9.16.2.14";
const QString kCertificateRefs = "1.2.840.113549.1.9.16.2.21";
const QString kRevocationRefs = "1.2.840.113549.1.9.16.2.22";
const QString kCertificateValues = "1.2.840.113549.1.9.16.2.23";
const QString kRevocationValues = "1.2.840.113549.1.9.16.2.24";
const QString kEscTimeStamp = "1.2.840.113549.1.9.16.2.25";
const QString kArchiveTimeStamp = "1.2.840.113549.1.9.16.2.48";

const QString kHashNotChecked = "hash da política não conferido";

PolicyInputs inputsFor(const QString& oid, QStringList signedOids, QStringList unsignedOids = {})
{
    PolicyInputs inputs;
    inputs.policy.oid = oid;
    inputs.policy.hashAlgorithmOid = "2.16.840.1.101.3.4.2.1";
    inputs.policy.hash = QByteArray(32, 'h');
    inputs.signedAttributeOids = std::move(signedOids);
    inputs.unsignedAttributeOids = std::move(unsignedOids);
    return inputs;
}

const QStringList kSignedForV2 = {kContentType, kMessageDigest, kSigningCertificateV2, kPolicy};

QString missing(const QString& words)
{
    return "atributo exigido pela política ausente: " + words;
}

fx::Cert policySigner()
{
    return icpSigner();
}

// A signer of a message verified with these signed attributes and,
// optionally, a time-stamp over its signature.
std::optional<PolicyCheck> checkOf(std::vector<fx::AttributeSpec> attributes, bool stamped = false)
{
    const fx::Cert signer = policySigner();
    fx::MessageSpec spec = messageFor({{.cert = signer, .attributes = std::move(attributes)}});
    fx::Bytes message = fx::makeSignedMessage(spec);
    if (stamped) {
        const fx::Cert tsa = fx::makeTsa(fx::icpBrasilHierarchy().intermediate);
        message = fx::withTimeStamp(message, 0, {.tsa = tsa});
    }
    sig::SignedData data(trustingIcp());
    data.verify(bytes(message));
    return checkSignaturePolicy(data.signers().at(0));
}

} // namespace

TEST(PolicyNameTest, LevelFromTheSeventhArcVersionFromTheRest)
{
    const std::vector<std::pair<QString, QString>> rows = {
        {"2.16.76.1.7.1.1.2.3", "AD-RB v2.3"},
        {"2.16.76.1.7.1.2.2.3", "AD-RT v2.3"},
        {"2.16.76.1.7.1.3.2.3", "AD-RV v2.3"},
        {"2.16.76.1.7.1.4.2.3", "AD-RC v2.3"},
        {"2.16.76.1.7.1.5.2.4", "AD-RA v2.4"},
        {"2.16.76.1.7.1.1.1", "AD-RB v1.0"},
        {"2.16.76.1.7.1.1.2.3.1", "AD-RB v2.3.1"},
        {"2.16.76.1.7.1.1", "AD-RB"},
        {"2.16.76.1.7.1.6.2.4", "XAdES AD-RB v2.4"},
        {"2.16.76.1.7.1.10.2.4", "XAdES AD-RA v2.4"},
        {"2.16.76.1.7.1.11.1", "PAdES AD-RB v1.0"},
        {"2.16.76.1.7.1.12.1", ""}, // beyond what is known: not guessed
        {"2.16.76.1.7.1", ""},
        {"2.16.76.1.7.10.1", ""},
        {"2.16.76.1.7.1x.1", ""},
        {"1.2.3.4", ""},
        {"", ""},
    };
    for (const auto& [oid, name] : rows)
        EXPECT_EQ(policyName(oid), name) << oid.toStdString();
}

TEST(PolicyCheckTest, EachCadesLevelRequiresItsAttributesRowByRow)
{
    struct Row {
        QString oid;
        QStringList requiredUnsigned;
        QStringList missingWords; // in the order of requiredUnsigned
    };
    const std::vector<Row> rows = {
        {"2.16.76.1.7.1.1.2.3", {}, {}},
        {"2.16.76.1.7.1.2.2.3",
         {kTimeStamp},
         {"carimbo do tempo da assinatura (signature-time-stamp)"}},
        {"2.16.76.1.7.1.3.2.3",
         {kTimeStamp, kCertificateRefs, kRevocationRefs, kEscTimeStamp},
         {"carimbo do tempo da assinatura (signature-time-stamp)",
          "referências completas de certificados (complete-certificate-references)",
          "referências completas de revogação (complete-revocation-references)",
          "carimbo do tempo das referências (CAdES-C-time-stamp)"}},
        {"2.16.76.1.7.1.4.2.3",
         {kTimeStamp, kCertificateRefs, kRevocationRefs, kEscTimeStamp, kCertificateValues,
          kRevocationValues},
         {"carimbo do tempo da assinatura (signature-time-stamp)",
          "referências completas de certificados (complete-certificate-references)",
          "referências completas de revogação (complete-revocation-references)",
          "carimbo do tempo das referências (CAdES-C-time-stamp)",
          "valores de certificados (certificate-values)",
          "valores de revogação (revocation-values)"}},
        {"2.16.76.1.7.1.5.2.3",
         {kCertificateRefs, kRevocationRefs, kCertificateValues, kRevocationValues,
          kArchiveTimeStamp},
         {"referências completas de certificados (complete-certificate-references)",
          "referências completas de revogação (complete-revocation-references)",
          "valores de certificados (certificate-values)",
          "valores de revogação (revocation-values)",
          "carimbo do tempo de arquivamento (archive-time-stamp-v2)"}},
    };
    for (const Row& row : rows) {
        const std::string level = row.oid.toStdString();
        const PolicyCheck complete =
            checkPolicy(inputsFor(row.oid, kSignedForV2, row.requiredUnsigned));
        EXPECT_TRUE(complete.conforms) << level << complete.problems.join("; ").toStdString();
        EXPECT_EQ(complete.problems, QStringList{kHashNotChecked}) << level;
        EXPECT_EQ(complete.oid, row.oid);
        // Each required unsigned attribute left out, one at a time.
        for (qsizetype i = 0; i < row.requiredUnsigned.size(); ++i) {
            QStringList present = row.requiredUnsigned;
            present.removeAt(i);
            const PolicyCheck check = checkPolicy(inputsFor(row.oid, kSignedForV2, present));
            EXPECT_FALSE(check.conforms)
                << level << " without " << row.missingWords[i].toStdString();
            EXPECT_EQ(check.problems, (QStringList{missing(row.missingWords[i]), kHashNotChecked}))
                << level;
        }
        // Each required signed attribute left out, one at a time.
        const QStringList words = {"tipo de conteúdo (content-type)",
                                   "resumo da mensagem (message-digest)",
                                   "certificado do signatário (signing-certificate-v2)",
                                   "identificador da política (signature-policy-identifier)"};
        for (qsizetype i = 0; i < kSignedForV2.size(); ++i) {
            QStringList present = kSignedForV2;
            present.removeAt(i);
            const PolicyCheck check =
                checkPolicy(inputsFor(row.oid, present, row.requiredUnsigned));
            EXPECT_FALSE(check.conforms) << level;
            EXPECT_TRUE(check.problems.contains(missing(words[i])))
                << level << check.problems.join("; ").toStdString();
        }
    }
}

TEST(PolicyCheckTest, SigningCertificateV1ServesOnlyPoliciesBeforeVersion21)
{
    const QStringList withV1 = {kContentType, kMessageDigest, kSigningCertificateV1, kPolicy};
    for (const QString& oid : {QString("2.16.76.1.7.1.1.1"), QString("2.16.76.1.7.1.1.2"),
                               QString("2.16.76.1.7.1.1.2.0")})
        EXPECT_TRUE(checkPolicy(inputsFor(oid, withV1)).conforms) << oid.toStdString();
    for (const QString& oid : {QString("2.16.76.1.7.1.1.2.1"), QString("2.16.76.1.7.1.1.2.3"),
                               QString("2.16.76.1.7.1.1.3"), QString("2.16.76.1.7.1.1")}) {
        const PolicyCheck check = checkPolicy(inputsFor(oid, withV1));
        EXPECT_FALSE(check.conforms) << oid.toStdString();
        EXPECT_TRUE(
            check.problems.contains(missing("certificado do signatário (signing-certificate-v2)")));
    }
}

TEST(PolicyCheckTest, PoliciesOutsideWhatIsKnownAreReportedNeverViolated)
{
    const PolicyCheck foreign = checkPolicy(inputsFor("1.3.6.1.4.1.99999.1", {}));
    EXPECT_TRUE(foreign.conforms);
    EXPECT_EQ(foreign.name, "");
    EXPECT_EQ(foreign.oid, "1.3.6.1.4.1.99999.1");
    EXPECT_EQ(foreign.problems,
              (QStringList{"política de assinatura fora da ICP-Brasil", kHashNotChecked}));

    const PolicyCheck unknownLevel = checkPolicy(inputsFor("2.16.76.1.7.1.42.1", {}));
    EXPECT_TRUE(unknownLevel.conforms);
    EXPECT_EQ(unknownLevel.problems,
              (QStringList{"política de assinatura ICP-Brasil não reconhecida", kHashNotChecked}));

    const PolicyCheck pades = checkPolicy(inputsFor("2.16.76.1.7.1.11.1", {}));
    EXPECT_TRUE(pades.conforms);
    EXPECT_EQ(pades.name, "PAdES AD-RB v1.0");
    EXPECT_EQ(pades.problems,
              (QStringList{"atributos exigidos pela política não conferidos", kHashNotChecked}));

    PolicyInputs implied;
    implied.policy.implied = true;
    const PolicyCheck impliedCheck = checkPolicy(implied);
    EXPECT_TRUE(impliedCheck.conforms);
    EXPECT_EQ(impliedCheck.oid, "");
    EXPECT_EQ(impliedCheck.problems, QStringList{"política de assinatura implícita"});
}

TEST(PolicyCheckTest, ACounterSignatureMustNotDeclareAPolicy)
{
    PolicyInputs inputs = inputsFor("2.16.76.1.7.1.1.2.3", kSignedForV2);
    inputs.counterSignatureDeclaresPolicy = true;
    const PolicyCheck check = checkPolicy(inputs);
    EXPECT_FALSE(check.conforms);
    EXPECT_EQ(check.problems, (QStringList{"uma contra-assinatura declara política de assinatura",
                                           kHashNotChecked}));
}

TEST(SignerPolicyTest, SignersAreCheckedWithWhatTheyCarry)
{
    const fx::Cert signer = policySigner();
    EXPECT_EQ(checkOf({}), std::nullopt) << "no policy, nothing to say";

    // AD-RB: content type and message digest come from the signing tool.
    const auto adRb = checkOf(
        {fx::signingCertificateV2(signer), fx::signaturePolicyAttribute("2.16.76.1.7.1.1.2.3")});
    ASSERT_TRUE(adRb.has_value());
    EXPECT_EQ(adRb->name, "AD-RB v2.3");
    EXPECT_TRUE(adRb->conforms) << adRb->problems.join("; ").toStdString();

    // AD-RT without its time-stamp, then with it.
    const std::vector<fx::AttributeSpec> adRt = {
        fx::signingCertificateV2(signer), fx::signaturePolicyAttribute("2.16.76.1.7.1.2.2.3")};
    const auto withoutToken = checkOf(adRt);
    ASSERT_TRUE(withoutToken.has_value());
    EXPECT_FALSE(withoutToken->conforms);
    EXPECT_EQ(withoutToken->problems,
              (QStringList{missing("carimbo do tempo da assinatura (signature-time-stamp)"),
                           kHashNotChecked}));
    const auto withToken = checkOf(adRt, true);
    ASSERT_TRUE(withToken.has_value());
    EXPECT_TRUE(withToken->conforms) << withToken->problems.join("; ").toStdString();

    // An AD-RB whose signer left out the binding.
    const auto unbound = checkOf({fx::signaturePolicyAttribute("2.16.76.1.7.1.1.2.3")});
    ASSERT_TRUE(unbound.has_value());
    EXPECT_FALSE(unbound->conforms);
}
