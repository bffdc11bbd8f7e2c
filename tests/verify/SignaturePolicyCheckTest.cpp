#include "verify/SignaturePolicyTable.h"

#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

// An attribute a policy may require: its OID and the words that name it
// when it is missing.
struct Required {
    QString oid;
    QString words;
};

const Required kContentType{"1.2.840.113549.1.9.3", "tipo de conteúdo (content-type)"};
const Required kMessageDigest{"1.2.840.113549.1.9.4", "resumo da mensagem (message-digest)"};
const Required kSigningCertificateV2{"1.2.840.113549.1.9.16.2.47",
                                     "certificado do signatário (signing-certificate-v2)"};
const Required kPolicy{"1.2.840.113549.1.9.16.2.15",
                       "identificador da política (signature-policy-identifier)"};
const Required kTimeStamp{"1.2.840.113549.1.9.16.2.14",
                          "carimbo do tempo da assinatura (signature-time-stamp)"};
const Required kCertificateRefs{
    "1.2.840.113549.1.9.16.2.21",
    "referências completas de certificados (complete-certificate-references)"};
const Required kRevocationRefs{
    "1.2.840.113549.1.9.16.2.22",
    "referências completas de revogação (complete-revocation-references)"};
const Required kCertificateValues{"1.2.840.113549.1.9.16.2.23",
                                  "valores de certificados (certificate-values)"};
const Required kRevocationValues{"1.2.840.113549.1.9.16.2.24",
                                 "valores de revogação (revocation-values)"};
const Required kEscTimeStamp{"1.2.840.113549.1.9.16.2.25",
                             "carimbo do tempo das referências (CAdES-C-time-stamp)"};
const Required kArchiveTimeStamp{"1.2.840.113549.1.9.16.2.48",
                                 "carimbo do tempo de arquivamento (archive-time-stamp-v2)"};
const QString kSigningCertificateV1 = "1.2.840.113549.1.9.16.2.12";

const QString kHashNotChecked = "hash da política não conferido";

QStringList oidsOf(const std::vector<Required>& attributes)
{
    QStringList oids;
    for (const Required& attribute : attributes)
        oids << attribute.oid;
    return oids;
}

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

const std::vector<Required> kSignedForV2 = {kContentType, kMessageDigest, kSigningCertificateV2,
                                            kPolicy};

QString missing(const QString& words)
{
    return "atributo exigido pela política ausente: " + words;
}

// A signer of a message verified with these signed attributes and,
// optionally, a time-stamp over its signature.
std::optional<PolicyCheck> checkOf(std::vector<fx::AttributeSpec> attributes, bool stamped = false)
{
    const fx::Cert signer = icpSigner();
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
    const std::vector<std::pair<QString, std::vector<Required>>> rows = {
        {"2.16.76.1.7.1.1.2.3", {}},
        {"2.16.76.1.7.1.2.2.3", {kTimeStamp}},
        {"2.16.76.1.7.1.3.2.3", {kTimeStamp, kCertificateRefs, kRevocationRefs, kEscTimeStamp}},
        {"2.16.76.1.7.1.4.2.3",
         {kTimeStamp, kCertificateRefs, kRevocationRefs, kEscTimeStamp, kCertificateValues,
          kRevocationValues}},
        {"2.16.76.1.7.1.5.2.3",
         {kCertificateRefs, kRevocationRefs, kCertificateValues, kRevocationValues,
          kArchiveTimeStamp}},
    };
    const QStringList signedOids = oidsOf(kSignedForV2);
    for (const auto& [oid, requiredUnsigned] : rows) {
        SCOPED_TRACE(oid.toStdString());
        const QStringList unsignedOids = oidsOf(requiredUnsigned);
        const PolicyCheck complete = checkPolicy(inputsFor(oid, signedOids, unsignedOids));
        EXPECT_TRUE(complete.conforms) << joined(complete.problems);
        EXPECT_EQ(complete.problems, QStringList{kHashNotChecked});
        EXPECT_EQ(complete.oid, oid);
        // Each required attribute, unsigned then signed, left out one at a time.
        for (qsizetype i = 0; i < unsignedOids.size(); ++i) {
            QStringList present = unsignedOids;
            present.removeAt(i);
            const PolicyCheck check = checkPolicy(inputsFor(oid, signedOids, present));
            const QString words = requiredUnsigned[static_cast<std::size_t>(i)].words;
            EXPECT_FALSE(check.conforms) << "without " << words.toStdString();
            EXPECT_EQ(check.problems, (QStringList{missing(words), kHashNotChecked}));
        }
        for (qsizetype i = 0; i < signedOids.size(); ++i) {
            QStringList present = signedOids;
            present.removeAt(i);
            const PolicyCheck check = checkPolicy(inputsFor(oid, present, unsignedOids));
            EXPECT_FALSE(check.conforms);
            EXPECT_TRUE(
                check.problems.contains(missing(kSignedForV2[static_cast<std::size_t>(i)].words)))
                << joined(check.problems);
        }
    }
}

TEST(PolicyCheckTest, SigningCertificateV1ServesOnlyPoliciesBeforeVersion21)
{
    const QStringList withV1 = {kContentType.oid, kMessageDigest.oid, kSigningCertificateV1,
                                kPolicy.oid};
    for (const QString& oid : {QString("2.16.76.1.7.1.1.1"), QString("2.16.76.1.7.1.1.2"),
                               QString("2.16.76.1.7.1.1.2.0")})
        EXPECT_TRUE(checkPolicy(inputsFor(oid, withV1)).conforms) << oid.toStdString();
    for (const QString& oid : {QString("2.16.76.1.7.1.1.2.1"), QString("2.16.76.1.7.1.1.2.3"),
                               QString("2.16.76.1.7.1.1.3"), QString("2.16.76.1.7.1.1")}) {
        const PolicyCheck check = checkPolicy(inputsFor(oid, withV1));
        EXPECT_FALSE(check.conforms) << oid.toStdString();
        EXPECT_TRUE(check.problems.contains(missing(kSigningCertificateV2.words)));
    }
}

TEST(PolicyCheckTest, PoliciesOutsideWhatIsKnownAreReportedNeverViolated)
{
    const std::vector<std::tuple<QString, QString, QString>> rows = {
        {"1.3.6.1.4.1.99999.1", "", "política de assinatura fora da ICP-Brasil"},
        {"2.16.76.1.7.1.42.1", "", "política de assinatura ICP-Brasil não reconhecida"},
        {"2.16.76.1.7.1.11.1", "PAdES AD-RB v1.0",
         "atributos exigidos pela política não conferidos"},
    };
    for (const auto& [oid, name, problem] : rows) {
        const PolicyCheck check = checkPolicy(inputsFor(oid, {}));
        EXPECT_TRUE(check.conforms) << oid.toStdString();
        EXPECT_EQ(check.name, name);
        EXPECT_EQ(check.oid, oid);
        EXPECT_EQ(check.problems, (QStringList{problem, kHashNotChecked}));
    }

    PolicyInputs implied;
    implied.policy.implied = true;
    const PolicyCheck impliedCheck = checkPolicy(implied);
    EXPECT_TRUE(impliedCheck.conforms);
    EXPECT_EQ(impliedCheck.oid, "");
    EXPECT_EQ(impliedCheck.problems, QStringList{"política de assinatura implícita"});
}

TEST(PolicyCheckTest, ACounterSignatureMustNotDeclareAPolicy)
{
    PolicyInputs inputs = inputsFor("2.16.76.1.7.1.1.2.3", oidsOf(kSignedForV2));
    inputs.counterSignatureDeclaresPolicy = true;
    const PolicyCheck check = checkPolicy(inputs);
    EXPECT_FALSE(check.conforms);
    EXPECT_EQ(check.problems, (QStringList{"uma contra-assinatura declara política de assinatura",
                                           kHashNotChecked}));
}

TEST(SignerPolicyTest, SignersAreCheckedWithWhatTheyCarry)
{
    const fx::Cert signer = icpSigner();
    EXPECT_EQ(checkOf({}), std::nullopt) << "no policy, nothing to say";

    // AD-RB: content type and message digest come from the signing tool.
    const auto adRb = checkOf(
        {fx::signingCertificateV2(signer), fx::signaturePolicyAttribute("2.16.76.1.7.1.1.2.3")});
    ASSERT_TRUE(adRb.has_value());
    EXPECT_EQ(adRb->name, "AD-RB v2.3");
    EXPECT_TRUE(adRb->conforms) << joined(adRb->problems);

    // AD-RT without its time-stamp, then with it.
    const std::vector<fx::AttributeSpec> adRt = {
        fx::signingCertificateV2(signer), fx::signaturePolicyAttribute("2.16.76.1.7.1.2.2.3")};
    const auto withoutToken = checkOf(adRt);
    ASSERT_TRUE(withoutToken.has_value());
    EXPECT_FALSE(withoutToken->conforms);
    EXPECT_EQ(withoutToken->problems, (QStringList{missing(kTimeStamp.words), kHashNotChecked}));
    const auto withToken = checkOf(adRt, true);
    ASSERT_TRUE(withToken.has_value());
    EXPECT_TRUE(withToken->conforms) << joined(withToken->problems);

    // An AD-RB whose signer left out the binding.
    const auto unbound = checkOf({fx::signaturePolicyAttribute("2.16.76.1.7.1.1.2.3")});
    ASSERT_TRUE(unbound.has_value());
    EXPECT_FALSE(unbound->conforms);
}
