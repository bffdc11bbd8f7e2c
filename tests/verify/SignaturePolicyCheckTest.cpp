// A declared ICP-Brasil policy judged with the bundled lists and policies:
// the check's findings, and the verdict they give a real signature.

#include "verify/SignaturePolicyCheck.h"

#include "tests/support/VerdictStates.h"
#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/Verification.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using namespace selavia::verify;
using namespace selavia::testing;
namespace pol = selavia::signature::policies;

namespace {

const QString kContentType = "1.2.840.113549.1.9.3";
const QString kMessageDigest = "1.2.840.113549.1.9.4";
const QString kSigningCertificateV2 = "1.2.840.113549.1.9.16.2.47";
const QString kPolicyId = "1.2.840.113549.1.9.16.2.15";
const QString kTimeStamp = "1.2.840.113549.1.9.16.2.14";
const QString kSha256 = "2.16.840.1.101.3.4.2.1";
const QString kRsa = "1.2.840.113549.1.1.1";
const QString kEc = "1.2.840.10045.2.1";
const QString kAdRb23 = "2.16.76.1.7.1.1.2.3";
const QString kAdRt23 = "2.16.76.1.7.1.2.2.3";
const QString kAdRb21 = "2.16.76.1.7.1.1.2.1";

QDateTime day(int year, int month, int dayOfMonth)
{
    return QDateTime(QDate(year, month, dayOfMonth), QTime(12, 0), Qt::UTC);
}

QByteArray bundledFile(const QString& name)
{
    for (const pol::EmbeddedFile& file : pol::bundledFiles()) {
        if (name == QLatin1String(file.name))
            return QByteArray(reinterpret_cast<const char*>(file.data),
                              static_cast<qsizetype>(file.size));
    }
    return {};
}

QByteArray documentHash(const QString& oid)
{
    return QByteArray::fromStdString(bundledPolicyHash(oid));
}

// A signer that meets every rule of `oid` as the bundled policy writes
// them, judged in 2024 by a list still current in 2024.
PolicyInputs conformingInputs(const QString& oid)
{
    PolicyInputs inputs;
    inputs.policy.oid = oid;
    inputs.policy.hashAlgorithmOid = kSha256;
    inputs.policy.hash = documentHash(oid);
    if (const pol::KnownPolicy* known = pol::bundledCatalogue().find(oid); known && known->rules) {
        inputs.signedAttributeOids = known->rules->mandatedSignedAttributes;
        inputs.unsignedAttributeOids = known->rules->mandatedUnsignedAttributes;
    }
    inputs.digestAlgorithmOid = kSha256;
    inputs.keyAlgorithmOid = kRsa;
    inputs.keyBits = 2048;
    inputs.bestSignatureTime = day(2024, 1, 10);
    inputs.checkedAt = day(2024, 1, 10);
    return inputs;
}

PolicyCheck checked(const PolicyInputs& inputs)
{
    return checkPolicy(inputs, pol::bundledCatalogue());
}

std::vector<PolicyCode> codesOf(const PolicyCheck& check)
{
    std::vector<PolicyCode> codes;
    for (const PolicyFinding& finding : check.findings)
        codes.push_back(finding.code);
    return codes;
}

QStringList reasonCodes(const Judgement& judgement)
{
    QStringList codes;
    for (const VerdictReason& reason : judgement.reasons)
        codes << reason.code;
    return codes;
}

} // namespace

TEST(PolicyNameTest, LevelFromTheSeventhArcVersionFromTheRest)
{
    const std::vector<std::pair<QString, QString>> rows = {
        {"2.16.76.1.7.1.1.2.3", "AD-RB v2.3"},
        {"2.16.76.1.7.1.5.2.4", "AD-RA v2.4"},
        {"2.16.76.1.7.1.1.1", "AD-RB v1.0"},
        {"2.16.76.1.7.1.1.2.3.1", "AD-RB v2.3.1"},
        {"2.16.76.1.7.1.1", "AD-RB"},
        {"2.16.76.1.7.1.6.2.4", "XAdES AD-RB v2.4"},
        {"2.16.76.1.7.1.11.1", "PAdES AD-RB v1.0"},
        {"2.16.76.1.7.1.14.1.3", "PAdES AD-RA v1.3"},
        {"2.16.76.1.7.1.42.1", ""},
        {"2.16.76.1.7.1", ""},
        {"2.16.76.1.7.1x.1", ""},
        {"1.2.3.4", ""},
    };
    for (const auto& [oid, name] : rows)
        EXPECT_EQ(policyName(oid), name) << oid.toStdString();
}

TEST(PolicyCheckTest, EachMandatedAttributeMissingOrEmptyBreaksThePolicy)
{
    for (const QString& oid :
         {kAdRb23, kAdRt23, QString("2.16.76.1.7.1.3.2.3"), QString("2.16.76.1.7.1.4.2.3"),
          QString("2.16.76.1.7.1.5.2.4"), QString("2.16.76.1.7.1.11.1.1")}) {
        SCOPED_TRACE(oid.toStdString());
        const PolicyInputs complete = conformingInputs(oid);
        const PolicyCheck passing = checked(complete);
        // PAdES policies carry extension rules this program does not read:
        // such a policy is never called conforming.
        const bool extended = oid.startsWith("2.16.76.1.7.1.11.");
        EXPECT_EQ(passing.notChecked,
                  extended ? QStringList{"regras de extensão da política"} : QStringList{});
        EXPECT_EQ(passing.conforms, !extended) << joined(passing.problems);
        EXPECT_TRUE(passing.checked.contains("hash da política"));
        EXPECT_FALSE(passing.problems.contains("hash da política não conferido"));
        const QStringList all = complete.signedAttributeOids + complete.unsignedAttributeOids;
        ASSERT_GE(all.size(), 4);
        // Every mandated attribute is listed with what the signature has of it.
        EXPECT_EQ(passing.mandatedAttributes.size(), all.size());
        EXPECT_EQ(passing.mandatedAttributes.filter(" — presente").size(), all.size());
        for (const QString& attribute : all) {
            PolicyInputs without = complete;
            without.signedAttributeOids.removeAll(attribute);
            without.unsignedAttributeOids.removeAll(attribute);
            const PolicyCheck missing = checked(without);
            EXPECT_EQ(codesOf(missing), std::vector<PolicyCode>{PolicyCode::Violation})
                << attribute.toStdString();
            EXPECT_TRUE(missing.problems.value(0).contains(" obrigatório ausente: "))
                << joined(missing.problems);
            EXPECT_EQ(missing.mandatedAttributes.filter(" — ausente").size(), 1);
            PolicyInputs empty = complete;
            empty.emptyAttributeOids = {attribute};
            EXPECT_TRUE(checked(empty).problems.value(0).contains(" obrigatório sem valor: "));
        }
    }
    const PolicyCheck noStamp = [] {
        PolicyInputs inputs = conformingInputs(kAdRt23);
        inputs.emptyAttributeOids = {kTimeStamp};
        return checked(inputs);
    }();
    EXPECT_EQ(noStamp.problems.value(0),
              "atributo não assinado obrigatório sem valor: carimbo do tempo da assinatura "
              "(signature-time-stamp)");
}

TEST(PolicyCheckTest, TheListTheHashAndTheKeyGiveTheirFindings)
{
    struct Row {
        const char* what;
        std::function<void(PolicyInputs&)> change;
        std::vector<PolicyCode> codes;
        QString firstProblem;
        bool leftUnchecked = false;
    };
    const std::vector<Row> rows = {
        {"as published", [](PolicyInputs&) {}, {}, {}},
        {"another policy's hash",
         [](PolicyInputs& in) { in.policy.hash = documentHash(kAdRt23); },
         {PolicyCode::Hash},
         "o hash da política declarado não confere"},
        {"the hash under SHA-512 of the same file",
         [](PolicyInputs& in) {
             in.policy.hashAlgorithmOid = "2.16.840.1.101.3.4.2.3";
             in.policy.hash = QCryptographicHash::hash(
                 pol::bundledCatalogue().find(kAdRb23)->document, QCryptographicHash::Sha512);
         },
         {},
         {}},
        {"an ICP-Brasil OID the list lacks",
         [](PolicyInputs& in) { in.policy.oid = "2.16.76.1.7.1.1.2.9"; },
         {PolicyCode::Unknown},
         "política ausente da lista de políticas da ICP-Brasil"},
        {"a policy outside ICP-Brasil",
         [](PolicyInputs& in) { in.policy.oid = "1.3.6.1.4.1.99999.1"; },
         {},
         "política de assinatura fora da ICP-Brasil: regras não conferidas",
         true},
        {"before the policy's period",
         [](PolicyInputs& in) { in.bestSignatureTime = day(2018, 5, 13); },
         {PolicyCode::Period},
         "período de uso da política de 14/05/2018 a 02/03/2029"},
        {"an EC key where the policy admits RSA only",
         [](PolicyInputs& in) {
             in.keyAlgorithmOid = kEc;
             in.keyBits = 256;
         },
         {PolicyCode::Violation},
         "algoritmo de assinatura não admitido pela política: ECDSA com SHA-256"},
        {"a short RSA key",
         [](PolicyInputs& in) { in.keyBits = 1024; },
         {PolicyCode::Violation},
         "chave de 1024 bits, menor que o mínimo de 2048 bits da política"},
        {"a counter-signature that declares a policy",
         [](PolicyInputs& in) { in.counterSignatureDeclaresPolicy = true; },
         {PolicyCode::Violation},
         "uma contra-assinatura declara política de assinatura"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        PolicyInputs inputs = conformingInputs(kAdRb23);
        row.change(inputs);
        const PolicyCheck check = checked(inputs);
        EXPECT_EQ(codesOf(check), row.codes) << joined(check.problems);
        EXPECT_EQ(check.conforms, row.codes.empty() && !row.leftUnchecked);
        EXPECT_EQ(check.notChecked.isEmpty(), !row.leftUnchecked);
        EXPECT_EQ(check.problems.value(0), row.firstProblem) << joined(check.problems);
    }
}

TEST(PolicyCheckTest, APolicysDatesAreItsListsAndTheListsAgeIsAWarning)
{
    struct Row {
        QDateTime at;
        std::vector<PolicyCode> codes;
    };
    // AD-RB v2.1: 2012-03-07 to 2023-06-21, revoked 2017-02-26.
    const std::vector<Row> rows = {
        {day(2016, 6, 1), {}},
        {day(2017, 3, 1), {PolicyCode::Revoked}},
        {day(2024, 1, 10), {PolicyCode::Period, PolicyCode::Revoked}},
        {day(2012, 1, 1), {PolicyCode::Period}},
    };
    for (const Row& row : rows) {
        PolicyInputs inputs = conformingInputs(kAdRb21);
        inputs.bestSignatureTime = row.at;
        EXPECT_EQ(codesOf(checked(inputs)), row.codes) << row.at.toString().toStdString();
    }
    PolicyInputs inputs = conformingInputs(kAdRb23);
    EXPECT_TRUE(checked(inputs).warnings.isEmpty()) << "the list is current in 2024";
    inputs.checkedAt = day(2025, 9, 11);
    const PolicyCheck late = checked(inputs);
    EXPECT_EQ(late.warnings, QStringList{"lista de políticas expirada em 10/09/2025"});
    EXPECT_TRUE(late.conforms) << "a warning only";
}

TEST(PolicyCheckTest, APolicyWhoseFileIsNotTheListedOneIsNotAvailable)
{
    const QString fileName = "PA_AD_RB_v2_3.der";
    const pol::PolicyCatalogue tampered = pol::catalogueOf(
        {{"LPA_CAdES.der", bundledFile("LPA_CAdES.der")}}, [&](const QString& name) {
            QByteArray document = bundledFile(name);
            if (name == fileName)
                document[100] = static_cast<char>(document[100] ^ 0x20);
            return document;
        });
    ASSERT_TRUE(tampered.find(kAdRt23) != nullptr && tampered.find(kAdRt23)->rules);
    PolicyInputs inputs = conformingInputs(kAdRb23);
    const PolicyCheck check = checkPolicy(inputs, tampered);
    EXPECT_EQ(codesOf(check), std::vector<PolicyCode>{PolicyCode::Unknown});
    EXPECT_FALSE(check.checked.contains("hash da política"));
    inputs.bestSignatureTime = day(2030, 1, 1);
    EXPECT_EQ(codesOf(checkPolicy(inputs, tampered)),
              (std::vector<PolicyCode>{PolicyCode::Period, PolicyCode::Unknown}))
        << "the list's dates still hold";
}

TEST(PolicyVerdictTest, SignaturesUnderRealPoliciesGetTheirVerdicts)
{
    const std::time_t now = std::time(nullptr);
    const fx::Cert signer =
        icpSigner("MARIA DA SILVA:12345678901", "12345678901", 0, 0, fx::KeyType::Rsa2048);
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::TokenSpec stamp{.tsa = fx::makeTsa(icp.intermediate, fx::TsaUsage::TimeStamping,
                                                 now - 600 * kDay, now + 600 * kDay),
                              // Before the carried lists were issued: they speak for it.
                              .genTime = now - 2 * 3600};
    auto signedUnder = [&](const fx::AttributeSpec& policy, std::time_t signingTime = 0) {
        fx::MessageSpec spec = withCrls(icpMessage(signer, "contrato.pdf"));
        spec.signers[0].attributes.push_back(fx::signingCertificateV2(signer));
        spec.signers[0].attributes.push_back(policy);
        if (signingTime != 0)
            spec.signers[0].signingTime = signingTime;
        return fx::makeSignedMessage(spec);
    };
    const fx::Bytes adRt = signedUnder(bundledPolicyAttribute(kAdRt23));
    const fx::Bytes adRb21 = signedUnder(bundledPolicyAttribute(kAdRb21), fx::utc(2016, 6, 1));
    struct Row {
        const char* what;
        fx::Bytes message;
        Verdict verdict;
        QStringList codes;
        QString subIndication;
    };
    const std::vector<Row> rows = {
        {"AD-RB v2.3 as published",
         signedUnder(bundledPolicyAttribute(kAdRb23)),
         Verdict::Approved,
         {},
         ""},
        {"AD-RB v2.3 naming another hash",
         signedUnder(fx::signaturePolicyWithHash(kAdRb23.toStdString(), std::string(32, 'h'))),
         Verdict::Rejected,
         {"policy-hash"},
         "SIG_CONSTRAINTS_FAILURE"},
        {"an ICP-Brasil policy the list lacks",
         signedUnder(fx::signaturePolicyWithHash("2.16.76.1.7.1.1.2.9", std::string(32, 'h'))),
         Verdict::Indeterminate,
         {"policy-unknown"},
         "SIGNATURE_POLICY_NOT_AVAILABLE"},
        {"a policy outside ICP-Brasil",
         signedUnder(fx::signaturePolicyWithHash("1.3.6.1.4.1.99999.1", std::string(32, 'h'))),
         Verdict::Approved,
         {},
         ""},
        // Claimed in 2016, but without a time-stamp only the time of the
        // check is known: after the revocation, which proves nothing.
        {"AD-RB v2.1 claimed in 2016 without a time-stamp",
         adRb21,
         Verdict::Indeterminate,
         {"policy-period", "policy-revoked"},
         "NO_POE"},
        {"AD-RB v2.1 time-stamped after its revocation",
         fx::withTimeStamp(adRb21, 0, stamp),
         Verdict::Rejected,
         {"policy-period", "policy-revoked"},
         "SIG_CONSTRAINTS_FAILURE"},
        {"AD-RT v2.3 time-stamped", fx::withTimeStamp(adRt, 0, stamp), Verdict::Approved, {}, ""},
        {"AD-RT v2.3 whose time-stamp attribute holds no value",
         fx::withUnsignedAttribute(adRt, 0, fx::kTimeStampTokenOid, {}),
         Verdict::Rejected,
         {"policy-violation"},
         "SIG_CONSTRAINTS_FAILURE"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const VerdictState state{.name = "", .message = row.message};
        const ValidationResult result =
            Verification(stateOptions(state)).readBytes("x.slv", bytes(row.message)).run();
        ASSERT_TRUE(result.verified());
        ASSERT_EQ(result.signers.size(), 1u);
        const SignatureResult& entry = result.signers[0];
        EXPECT_EQ(entry.judgement.verdict, row.verdict)
            << verdictLine(entry.judgement).toStdString();
        EXPECT_EQ(reasonCodes(entry.judgement), row.codes);
        EXPECT_EQ(entry.judgement.subIndication, row.subIndication);
        ASSERT_TRUE(entry.policy.has_value());
        EXPECT_FALSE(entry.policy->problems.contains("hash da política não conferido"));
        if (row.codes == QStringList{"policy-violation"}) {
            EXPECT_TRUE(verdictLine(entry.judgement).contains("carimbo do tempo da assinatura"));
        }
    }
}
