// What a signer's CAdES pieces make of its entry and its branch of the tree:
// the time-stamp that counts, the validity at its time, the binding, the
// counter-signatures, and the time-stamp node.

#include "tests/support/VerifyFixtures.h"
#include "tools/fixtures/CadesFixtures.h"
#include "verify/CadesText.h"
#include "verify/SignatureTree.h"
#include "verify/Verification.h"

#include <gtest/gtest.h>
#include <map>
#include <tuple>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

constexpr std::time_t kHour = 3600;

const fx::Hierarchy& icp()
{
    static const fx::Hierarchy hierarchy = fx::icpBrasilHierarchy();
    return hierarchy;
}

fx::Bytes messageOf(std::vector<fx::SignerSpec> signers,
                    std::vector<std::shared_ptr<X509_CRL>> crls = {})
{
    fx::MessageSpec spec = messageFor(std::move(signers));
    spec.crls = std::move(crls);
    return fx::makeSignedMessage(spec);
}

fx::Bytes stamped(const fx::Bytes& message, std::time_t genTime, int index = 0,
                  const fx::Cert& authority = longLivedTsa())
{
    return fx::withTimeStamp(message, index, {.tsa = authority, .genTime = genTime});
}

ValidationResult documentOf(const fx::Bytes& message, sig::TrustStore store = trustingIcp())
{
    const QByteArray raw = bytes(message);
    ValidationResult document = Verification(std::move(store)).readBytes({}, raw).run();
    EXPECT_TRUE(document.verified())
        << (document.error ? document.error->caption.toStdString() : std::string());
    return document;
}

const SignatureResult& onlySigner(const ValidationResult& document)
{
    static const SignatureResult none;
    EXPECT_EQ(document.signers.size(), 1u);
    return document.signers.empty() ? none : document.signers.front();
}

} // namespace

TEST(ValidAtTimestampTest, ACertificateExpiredSinceWasValidAtItsTokensTime)
{
    const std::time_t now = std::time(nullptr);
    const fx::Cert expired =
        icpSigner("EXPIRADO:12345678901", "12345678901", now - 3 * kYear, now - kYear);
    const fx::Bytes message = messageOf({{.cert = expired}});

    const ValidationResult inside = documentOf(stamped(message, now - 2 * kYear));
    const SignatureResult& signer = onlySigner(inside);
    EXPECT_EQ(signer.certificateClass, CertificateClass::Invalid) << "the class is about now";
    ASSERT_TRUE(signer.timestamp.has_value());
    EXPECT_TRUE(signer.timestamp->valid) << joined(signer.timestamp->problems);
    ASSERT_TRUE(signer.validAtTimestamp.has_value());
    EXPECT_TRUE(*signer.validAtTimestamp) << joined(signer.validAtTimestampProblems);
    EXPECT_TRUE(signer.validAtTimestampProblems.isEmpty());

    // A token from after the expiry proves nothing of the kind.
    const SignatureResult late = onlySigner(documentOf(stamped(message, now - kYear / 2)));
    ASSERT_TRUE(late.validAtTimestamp.has_value());
    EXPECT_FALSE(*late.validAtTimestamp);
    EXPECT_EQ(late.validAtTimestampProblems,
              QStringList{"EXPIRADO:12345678901: fora da validade na data do carimbo do tempo"});
    EXPECT_TRUE(
        cadesLines(late).validAtTimestamp.startsWith("Não válido na data do carimbo do tempo ("))
        << cadesLines(late).validAtTimestamp.toStdString();
}

TEST(ValidAtTimestampTest, ARevocationCountsOnlyWhenItCameBeforeTheToken)
{
    const std::time_t now = std::time(nullptr);
    const std::time_t genTime = now - 12 * kHour; // the signer is valid from a day ago
    for (const auto& [revocationDate, validThen] : std::vector<std::pair<std::time_t, bool>>{
             {genTime - 6 * kHour, false}, {genTime + 6 * kHour, true}}) {
        SCOPED_TRACE(validThen ? "revoked after the token" : "revoked before the token");
        const fx::Cert signer = icpSigner("REVOGADO:12345678901");
        const auto crl = fx::makeCrl(
            {.issuer = &icp().intermediate, .revoked = {signer}, .revocationDate = revocationDate});
        const SignatureResult entry =
            onlySigner(documentOf(stamped(messageOf({{.cert = signer}}, {crl}), genTime)));
        EXPECT_EQ(entry.certificateClass, CertificateClass::Invalid) << "revoked now";
        EXPECT_EQ(entry.status.revocation.state, sig::RevocationState::Revoked);
        ASSERT_TRUE(entry.validAtTimestamp.has_value());
        EXPECT_EQ(*entry.validAtTimestamp, validThen) << joined(entry.validAtTimestampProblems);
        if (!validThen) {
            ASSERT_EQ(entry.validAtTimestampProblems.size(), 1);
            EXPECT_TRUE(entry.validAtTimestampProblems[0].startsWith(
                "REVOGADO:12345678901: o certificado foi revogado em "))
                << joined(entry.validAtTimestampProblems);
        }
    }
}

TEST(TimeStampEntryTest, TokensThatDoNotVerifyCountForNothingAndSayWhy)
{
    const fx::Bytes base = messageOf({{.cert = icpSigner()}});
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    fx::TokenSpec untrusted{.tsa = fx::makeTsa(foreign.intermediate)};
    untrusted.chain = {foreign.intermediate, foreign.root};
    // What the token is, the message carrying it, and the reason given.
    const std::vector<std::tuple<const char*, fx::Bytes, QString>> tokens = {
        {"over other bytes",
         fx::withUnsignedAttribute(
             base, 0, fx::kTimeStampTokenOid,
             {fx::makeTimeStampToken("outros bytes", {.tsa = longLivedTsa()})}),
         "o carimbo do tempo não corresponde a esta assinatura"},
        {"untrusted authority", fx::withTimeStamp(base, 0, untrusted),
         "a cadeia da ACT não chega a uma raiz confiável"},
        {"authority without the usage",
         fx::withTimeStamp(
             base, 0, {.tsa = fx::makeTsa(icp().intermediate, fx::TsaUsage::NoExtendedKeyUsage)}),
         "o certificado da ACT não tem o uso estendido de chave carimbo do tempo (timeStamping)"},
    };
    for (const auto& [what, message, reason] : tokens) {
        SCOPED_TRACE(what);
        const ValidationResult document = documentOf(message);
        const SignatureResult& signer = onlySigner(document);
        ASSERT_TRUE(signer.timestamp.has_value());
        EXPECT_FALSE(signer.timestamp->valid);
        EXPECT_EQ(signer.timestamp->problems, QStringList{reason});
        EXPECT_FALSE(signer.validAtTimestamp.has_value());
        EXPECT_EQ(signer.certificateClass, CertificateClass::Valid) << "the class is unchanged";
        const TreeNode* node = findNode(document.tree, "ChildF1");
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->text, "Carimbo do Tempo (ACT) inválido: " + reason);
    }
}

TEST(TimeStampEntryTest, AValidTokenCountsBeforeOnesThatDoNotVerify)
{
    const fx::Bytes base = messageOf({{.cert = icpSigner()}});
    const fx::Bytes elsewhere = fx::makeTimeStampToken("outros bytes", {.tsa = longLivedTsa()});
    const std::time_t when = fx::utc(2026, 3, 4, 5, 6, 7);
    const fx::Bytes good = fx::makeTimeStampToken(fx::signatureValueOf(base),
                                                  {.tsa = longLivedTsa(), .genTime = when});
    const SignatureResult counted = onlySigner(
        documentOf(fx::withUnsignedAttribute(base, 0, fx::kTimeStampTokenOid, {elsewhere, good})));
    ASSERT_TRUE(counted.timestamp.has_value());
    EXPECT_TRUE(counted.timestamp->valid);
    EXPECT_EQ(counted.timestamp->genTime, QDateTime::fromSecsSinceEpoch(when, Qt::UTC));
    EXPECT_TRUE(counted.validAtTimestamp.has_value());

    // None verifies: one of them is still shown, and why.
    const SignatureResult none = onlySigner(documentOf(fx::withUnsignedAttribute(
        base, 0, fx::kTimeStampTokenOid,
        {elsewhere, fx::makeTimeStampToken("ainda outros", {.tsa = longLivedTsa()})})));
    ASSERT_TRUE(none.timestamp.has_value());
    EXPECT_FALSE(none.timestamp->valid);
    EXPECT_FALSE(none.validAtTimestamp.has_value());
}

TEST(SigningCertificateEntryTest, AnAttributeNamingAnotherCertificateIsNeverValid)
{
    const fx::Cert signer = icpSigner();
    const fx::Cert other = icpSigner("OUTRO:11122233344");
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    const fx::Cert foreignSigner = fx::issueEndEntity(foreign.intermediate, "ESTRANGEIRO");
    const sig::TrustStore both = storeTrusting({&icp().root, &foreign.root});
    const std::vector<std::tuple<const char*, fx::Cert, fx::AttributeSpec, CertificateClass>>
        cases = {
            {"v2 naming the signer", signer, fx::signingCertificateV2(signer),
             CertificateClass::Valid},
            {"v2 naming another", signer, fx::signingCertificateV2(other),
             CertificateClass::Invalid},
            {"v1 naming another", signer,
             fx::signingCertificateAttribute({.version = 1, .hashOf = &other}),
             CertificateClass::Invalid},
            {"outside ICP-Brasil", foreignSigner, fx::signingCertificateV2(other),
             CertificateClass::NoIcpInvalid},
        };
    for (const auto& [name, cert, attribute, expected] : cases) {
        SCOPED_TRACE(name);
        const ValidationResult document =
            documentOf(messageOf({{.cert = cert, .attributes = {attribute}}}), both);
        ASSERT_TRUE(document.verified()) << "the file still verifies";
        const SignatureResult& entry = onlySigner(document);
        EXPECT_EQ(entry.certificateClass, expected);
        const bool mismatch = expected != CertificateClass::Valid;
        EXPECT_EQ(entry.signingCertificateMismatch, mismatch);
        EXPECT_EQ(entry.problems,
                  mismatch ? QStringList{"o certificado do signatário não é o indicado na "
                                         "assinatura"}
                           : QStringList{});
        EXPECT_EQ(document.signaturesOk, !mismatch);
        EXPECT_EQ(findNode(document.tree, "aChild1")->imageKey, imageKey(expected));
    }
}

TEST(CounterSignatureResultTest, ACounterSignatureIsValidWhenItVerifiesAndItsCertificateIs)
{
    const fx::Bytes base = messageOf({{.cert = icpSigner()}});
    const fx::Cert notary = fx::issueEndEntity(icp().intermediate, "TABELIAO DE NOTAS");
    const fx::Cert forger = fx::issueEndEntity(icp().intermediate, "FALSARIO");
    const fx::Cert stranger = fx::issueEndEntity(fx::foreignHierarchy().intermediate, "ESTRANHO");
    const fx::Bytes message = fx::withCounterSignature(
        fx::withCounterSignature(fx::withCounterSignature(base, 0, {.cert = notary}), 0,
                                 {.cert = forger, .tamperSignature = true}),
        0, {.cert = stranger});
    const ValidationResult document = documentOf(message);
    const SignatureResult& signer = onlySigner(document);
    ASSERT_EQ(signer.counterSignatures.size(), 3u);
    const QStringList lines = cadesLines(signer).counterSignatures;
    ASSERT_EQ(lines.size(), 3);
    std::map<QString, std::pair<CounterSignatureResult, QString>> byName;
    for (std::size_t n = 0; n < 3; ++n)
        byName[signer.counterSignatures[n].signerName] = {signer.counterSignatures[n],
                                                          lines[static_cast<qsizetype>(n)]};
    const auto& [good, goodLine] = byName["TABELIAO DE NOTAS"];
    EXPECT_TRUE(good.valid) << joined(good.problems);
    EXPECT_TRUE(goodLine.startsWith("Contra-assinatura: TABELIAO DE NOTAS, "))
        << goodLine.toStdString();
    EXPECT_TRUE(goodLine.endsWith(" - válida")) << goodLine.toStdString();
    const auto& [forged, forgedLine] = byName["FALSARIO"];
    EXPECT_FALSE(forged.valid);
    EXPECT_EQ(forged.problems, QStringList{"a contra-assinatura não confere com o certificado"});
    EXPECT_TRUE(
        forgedLine.endsWith(" - inválida: a contra-assinatura não confere com o certificado"))
        << forgedLine.toStdString();
    EXPECT_EQ(forged.judgement.verdict, Verdict::Rejected);
    // Its signature holds, but nothing vouches for whoever made it.
    const auto& [unknown, unknownLine] = byName["ESTRANHO"];
    EXPECT_FALSE(unknown.valid);
    EXPECT_FALSE(unknown.problems.isEmpty());
    EXPECT_EQ(unknown.judgement.verdict, Verdict::Indeterminate);
    ASSERT_FALSE(unknown.judgement.reasons.empty());
    EXPECT_EQ(unknown.judgement.reasons[0].code, "untrusted-chain") << "not a forgery";
    // The notary's certificate is judged as the signer's is: the same hierarchy, the same lists.
    EXPECT_EQ(good.judgement.verdict, signer.judgement.verdict);
    EXPECT_NE(good.judgement.verdict, Verdict::Rejected);
    EXPECT_EQ(signer.certificateClass, CertificateClass::Valid) << "they do not change the signer";
    EXPECT_NE(signer.judgement.verdict, Verdict::Rejected) << "nor its verdict";
    // They count in the file's verdict.
    EXPECT_EQ(document.verdict.verdict, Verdict::Rejected);
    QStringList fileCodes;
    for (const VerdictReason& reason : document.verdict.reasons)
        fileCodes << reason.code;
    EXPECT_TRUE(fileCodes.contains("signature-invalid")) << joined(fileCodes);
    EXPECT_TRUE(fileCodes.contains("untrusted-chain")) << joined(fileCodes);
    EXPECT_EQ(findNode(document.tree, "ChildF1"), nullptr) << "nor the tree";
}

TEST(TimeStampNodeTest, TheTokenFollowsTheSigningTimeOrTakesItsPlace)
{
    const std::time_t genTime = fx::utc(2026, 12, 6, 21, 5, 9);
    fx::SignerSpec timed{.cert = icpSigner()};
    fx::SignerSpec untimed{.cert = icpSigner("SEM HORA:12345678901")};
    untimed.signingTime.reset();
    fx::SignerSpec unstamped{.cert = icpSigner("SEM CARIMBO:12345678901")};
    const fx::Bytes message =
        stamped(stamped(messageOf({timed, untimed, unstamped}), genTime, 0), genTime, 1);
    const ValidationResult document = documentOf(message);
    const QStringList keys = keysOf(document.tree);
    auto branch = [&](int signer) {
        QStringList own;
        for (const QString& key : keys) {
            if (key.endsWith(QString::number(signer)) && !key.startsWith("ChildEA"))
                own << key;
        }
        return own;
    };
    EXPECT_EQ(branch(1),
              (QStringList{"aChild1", "ChildA1", "ChildB1", "ChildC1", "ChildF1", "ChildD1",
                           "ChildDA1", "ChildDB1", "ChildDC1", "ChildDD1", "ChildE1"}));
    EXPECT_EQ(branch(2), (QStringList{"aChild2", "ChildA2", "ChildB2", "ChildF2", "ChildD2",
                                      "ChildDA2", "ChildDB2", "ChildDC2", "ChildDD2", "ChildE2"}));
    EXPECT_EQ(branch(3), (QStringList{"aChild3", "ChildA3", "ChildB3", "ChildC3", "ChildD3",
                                      "ChildDA3", "ChildDB3", "ChildDC3", "ChildDD3", "ChildE3"}));
    const TreeNode* node = findNode(document.tree, "ChildF1");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text, "Carimbo do Tempo (ACT): 06/12/2026 18:05:09 - ACT de Teste");
    EXPECT_EQ(node->imageKey, "info_time");
    EXPECT_EQ(node->parentKey, "aChild1");
    EXPECT_FALSE(node->expanded);
    EXPECT_EQ(node->signer, 1);
    EXPECT_EQ(node->chainPosition, 0);
    // Every node of a signer says whose it is; chain nodes also their place.
    const std::vector<std::tuple<const char*, int, int>> owners = {
        {"aChild2", 2, 0},    {"ChildF2", 2, 0},    {"ChildEA2.1", 2, 1},
        {"ChildEA2.2", 2, 2}, {"ChildEA3.3", 3, 3}, {"Root", 0, 0}};
    for (const auto& [key, signer, position] : owners) {
        const TreeNode* owned = findNode(document.tree, key);
        ASSERT_NE(owned, nullptr) << key;
        EXPECT_EQ(owned->signer, signer) << key;
        EXPECT_EQ(owned->chainPosition, position) << key;
    }
}
