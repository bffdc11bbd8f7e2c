#include "verify/SignatureTree.h"

#include "tests/support/VerifyFixtures.h"
#include "verify/Signatures.h"

#include <QSet>
#include <gtest/gtest.h>
#include <tuple>

using namespace selavia::verify;
using namespace selavia::testing;

namespace {

const QString kOn = QStringLiteral("(ON Observatório Nacional - Hora Legal Brasileira)");

fx::SignerSpec signerAt(std::time_t signingTime, fx::Cert cert = icpSigner())
{
    fx::SignerSpec signer{.cert = std::move(cert)};
    signer.signingTime = signingTime;
    return signer;
}

fx::SignerSpec describedSigner(const std::string& description)
{
    fx::SignerSpec signer = signerAt(fx::utc(2026, 12, 6, 21, 5, 9));
    signer.attributes = {fx::documentDescriptionAttribute(description)};
    return signer;
}

QString textOf(const std::vector<TreeNode>& tree, const QString& key)
{
    const TreeNode* node = findNode(tree, key);
    return node != nullptr ? node->text : QStringLiteral("<sem nó %1>").arg(key);
}

} // namespace

TEST(SignatureTreeTest, OneIcpBrasilSignerWithAChainOfThreeGivesThirteenNodesInOrder)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    fx::CertSpec spec;
    spec.subject = {{"C", "BR"}, {"O", "ICP-Brasil"}, {"CN", "FULANO DE TAL:98765432100"}};
    spec.issuer = &icp.intermediate;
    spec.serial = 0x1A2B3C;
    spec.notBefore = fx::utc(2026, 1, 2, 3, 0, 0);   // local midnight
    spec.notAfter = fx::utc(2030, 6, 30, 14, 30, 0); // 11:30 local
    spec.san = {fx::SanEntry::email("fulano@example.com.br"),
                fx::icpPersonal("01021980", "12345678901")};
    const fx::Cert signer = fx::makeCertificate(spec);
    fx::SignerSpec signerSpec = describedSigner("<ct>CARIMBO_ON</ct>");
    signerSpec.cert = signer;

    const ValidationResult document = verifiedDocument(messageFor({signerSpec}));
    const QString thumbprint = thumbprintOf(signer);

    // Key, parent, text, image.
    const std::vector<std::tuple<const char*, const char*, QString, const char*>> expected = {
        {"Root", "", "Certificados e Assinaturas", "cert_tree"},
        {"aChild1", "Root", "FULANO DE TAL", "cert_valid"},
        {"ChildA1", "aChild1", "Cpf/Cnpj: 123.456.789-01", "info_doc"},
        {"ChildB1", "aChild1", "EMail: fulano@example.com.br", "info_email"},
        {"ChildC1", "aChild1", "Carimbo de Tempo: 06/12/2026 18:05:09 " + kOn, "info_time"},
        {"ChildD1", "aChild1", "Informações Técnicas", "info_tec"},
        {"ChildDA1", "ChildD1", "Validade: 02/01/2026 - 30/06/2030 11:30:00", "info_gen"},
        {"ChildDB1", "ChildD1", "Versão: 3", "info_gen"},
        {"ChildDC1", "ChildD1", "NºSerial: 1A2B3C", "info_gen"},
        {"ChildDD1", "ChildD1", "Impressão: " + thumbprint, "info_gen"},
        {"ChildE1", "aChild1", "Cadeia de Certificados", "signs"},
        {"ChildEA1.1", "ChildE1", "FULANO DE TAL:98765432100", "certificate"},
        {"ChildEA1.2", "ChildE1", "AC Intermediaria de Teste v5", "certificate"},
        {"ChildEA1.3", "ChildE1", "Autoridade Certificadora Raiz Brasileira v5", "certificate"},
    };
    ASSERT_EQ(document.tree.size(), expected.size())
        << keysOf(document.tree).join(' ').toStdString();
    for (std::size_t n = 0; n < expected.size(); ++n) {
        const TreeNode& node = document.tree[n];
        const auto& [key, parent, text, image] = expected[n];
        SCOPED_TRACE(key);
        EXPECT_EQ(node.key, key);
        EXPECT_EQ(node.parentKey, parent);
        EXPECT_EQ(node.text, text);
        EXPECT_EQ(node.imageKey, image);
        EXPECT_EQ(node.expanded, node.key == "Root" || node.key == "aChild1");
        EXPECT_EQ(node.signer, node.key == "Root" ? 0 : 1);
        EXPECT_EQ(node.chainPosition > 0, node.imageKey == "certificate");
    }
    // A chain node leads to its certificate through its place in the chain.
    const SignatureResult& entry = document.signers.at(0);
    const std::vector<fx::Bytes> chain = {signer.der(), icp.intermediate.der(), icp.root.der()};
    ASSERT_EQ(entry.status.chain.size(), chain.size());
    for (std::size_t j = 0; j < chain.size(); ++j) {
        const int position = document.tree[11 + j].chainPosition;
        ASSERT_EQ(position, static_cast<int>(j) + 1);
        EXPECT_EQ(entry.status.chain[static_cast<std::size_t>(position) - 1].certificate.der,
                  bytes(chain[j]))
            << j;
    }

    EXPECT_EQ(entry.validFrom, QDateTime(QDate(2026, 1, 2), QTime(3, 0), Qt::UTC));
    EXPECT_EQ(entry.validTo, QDateTime(QDate(2030, 6, 30), QTime(14, 30), Qt::UTC));
}

// Only the two exact markers, blanks around them aside, have a known origin.
TEST(SignatureTreeTest, TheDescriptionGivesTheOriginOfTheSigningTime)
{
    const std::vector<std::pair<std::string, QString>> cases = {
        {"<ct>CARIMBO_LOCAL</ct>", "(LOCAL)"},
        {"<ct>CARIMBO_ON</ct>", kOn},
        {"<ct>carimbo_on</ct>", "(Fonte Desconhecida)"},
        {"<CT>CARIMBO_ON</CT>", "(Fonte Desconhecida)"},
        {"<ct>CARIMBO_ON</ct>x", "(Fonte Desconhecida)"},
        {"CARIMBO_LOCAL", "(Fonte Desconhecida)"},
        {"   <ct>CARIMBO_ON</ct>  ", kOn},
        {"\t<ct>CARIMBO_LOCAL</ct>", "(Fonte Desconhecida)"},
        {"Carimbo do servidor", "(Fonte Desconhecida)"},
        {"", "(Fonte Desconhecida)"},
    };
    std::vector<fx::SignerSpec> signers;
    for (const auto& [description, origin] : cases)
        signers.push_back(describedSigner(description));
    signers.push_back(signerAt(fx::utc(2026, 12, 6, 21, 5, 9))); // no description
    const ValidationResult document = verifiedDocument(messageFor(signers));

    for (std::size_t n = 0; n < cases.size(); ++n) {
        const QString key = QStringLiteral("ChildC%1").arg(n + 1);
        EXPECT_EQ(textOf(document.tree, key),
                  "Carimbo de Tempo: 06/12/2026 18:05:09 " + cases[n].second)
            << cases[n].first;
    }
    const QString last = QStringLiteral("ChildC%1").arg(cases.size() + 1);
    EXPECT_EQ(textOf(document.tree, last), "Carimbo de Tempo: 06/12/2026 18:05:09 ");
    EXPECT_EQ(document.signers.back().timestampOrigin, "");
}

TEST(SignatureTreeTest, SigningTimeIsShownInLocalTimeAloneAtMidnightAndNotAtAllWithoutOne)
{
    fx::SignerSpec midnight = signerAt(fx::utc(2026, 12, 7, 3, 0, 0));
    midnight.attributes = {fx::documentDescriptionAttribute("<ct>CARIMBO_LOCAL</ct>")};
    fx::SignerSpec without{.cert = icpSigner("SEM HORA:1")};
    without.signingTime.reset();
    without.attributes = {fx::documentDescriptionAttribute("<ct>CARIMBO_ON</ct>")};
    const ValidationResult document =
        verifiedDocument(messageFor({signerAt(fx::utc(2026, 12, 6, 21, 5, 9)), midnight,
                                     signerAt(fx::utc(2026, 12, 7, 2, 59, 59)), without}));
    EXPECT_EQ(document.signers.at(0).signingTime, "06/12/2026 18:05:09");
    EXPECT_EQ(textOf(document.tree, "ChildC2"), "Carimbo de Tempo: 07/12/2026 (LOCAL)");
    EXPECT_EQ(document.signers.at(2).signingTime, "06/12/2026 23:59:59");

    EXPECT_EQ(findNode(document.tree, "ChildC4"), nullptr);
    EXPECT_EQ(document.signers.at(3).signingTime, "");
    QStringList fourth;
    for (const TreeNode& node : document.tree) {
        if (node.parentKey == "aChild4")
            fourth << node.key;
    }
    EXPECT_EQ(fourth, QStringList({"ChildA4", "ChildB4", "ChildD4", "ChildE4"}));
}

TEST(SignatureTreeTest, EachSignerHasItsOwnBranchFromItsOwnData)
{
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    fx::SignerSpec first = signerAt(fx::utc(2026, 12, 6, 21, 5, 9));
    first.attributes = {fx::documentNameAttribute("primeiro.pdf"),
                        fx::documentDescriptionAttribute("<ct>CARIMBO_ON</ct>")};
    fx::SignerSpec second{.cert = fx::issueEndEntity(foreign.intermediate, "John Doe")};
    second.signingTime.reset();
    second.attributes = {fx::documentNameAttribute("segundo.docx")};

    const ValidationResult document = verifiedDocument(messageFor({first, second}));
    const QStringList keys = keysOf(document.tree);
    EXPECT_EQ(
        keys,
        QStringList({"Root",       "aChild1",    "ChildA1",  "ChildB1",  "ChildC1", "ChildD1",
                     "ChildDA1",   "ChildDB1",   "ChildDC1", "ChildDD1", "ChildE1", "ChildEA1.1",
                     "ChildEA1.2", "ChildEA1.3", "aChild2",  "ChildA2",  "ChildB2", "ChildD2",
                     "ChildDA2",   "ChildDB2",   "ChildDC2", "ChildDD2", "ChildE2", "ChildEA2.1",
                     "ChildEA2.2", "ChildEA2.3"}));
    EXPECT_EQ(findNode(document.tree, "aChild2")->parentKey, "Root");
    EXPECT_EQ(findNode(document.tree, "ChildA2")->parentKey, "aChild2");
    EXPECT_EQ(findNode(document.tree, "ChildEA2.1")->parentKey, "ChildE2");

    EXPECT_EQ(textOf(document.tree, "aChild1"), "FULANO DE TAL");
    EXPECT_EQ(textOf(document.tree, "aChild2"), "John Doe");
    EXPECT_EQ(findNode(document.tree, "aChild2")->imageKey, "cert_noicp_invalid");
    EXPECT_EQ(textOf(document.tree, "ChildA2"), "Cpf/Cnpj: ");
    EXPECT_EQ(textOf(document.tree, "ChildB2"), "EMail: ");
    EXPECT_EQ(textOf(document.tree, "ChildEA2.1"), "John Doe");
    EXPECT_EQ(textOf(document.tree, "ChildEA2.3"), "Foreign Test Root CA");
    EXPECT_NE(textOf(document.tree, "ChildDD1"), textOf(document.tree, "ChildDD2"));

    EXPECT_EQ(document.originalName, "segundo.docx");
    EXPECT_FALSE(document.signaturesOk);
}

TEST(SignatureTreeTest, AnUnreadableSignerKeepsItsWholeBranchWithEmptyValues)
{
    VerifiedSigners verified = verifiedSigners(messageFor({{.cert = icpSigner()}}));
    const sig::Signer empty(sig::Certificate(), {}, sig::Chain());
    const std::vector<SignatureResult> entries = {readSigner(empty, 1),
                                                  readSigner(verified.signers()[0], 2)};
    const std::vector<TreeNode> tree = buildTree(entries);

    EXPECT_EQ(textOf(tree, "aChild1"), "");
    EXPECT_EQ(findNode(tree, "aChild1")->imageKey, "cert_noicp_invalid");
    EXPECT_EQ(textOf(tree, "ChildA1"), "Cpf/Cnpj: ");
    EXPECT_EQ(textOf(tree, "ChildB1"), "EMail: ");
    EXPECT_EQ(textOf(tree, "ChildDA1"), "Validade:  - ");
    EXPECT_EQ(textOf(tree, "ChildDB1"), "Versão: ");
    EXPECT_EQ(textOf(tree, "ChildDC1"), "NºSerial: ");
    EXPECT_EQ(textOf(tree, "ChildDD1"), "Impressão: ");
    EXPECT_NE(findNode(tree, "ChildE1"), nullptr);
    EXPECT_EQ(findNode(tree, "ChildEA1.1"), nullptr);

    // Nothing of the other signer leaks into the empty branch, nor back.
    EXPECT_EQ(textOf(tree, "aChild2"), "FULANO DE TAL");
    EXPECT_EQ(textOf(tree, "ChildA2"), "Cpf/Cnpj: 123.456.789-01");
    EXPECT_EQ(findNode(tree, "aChild2")->imageKey, "cert_valid");
    EXPECT_NE(findNode(tree, "ChildEA2.3"), nullptr);
}

TEST(SignatureTreeTest, AttributesCountInOrderAndUndecodedValuesAreSkipped)
{
    VerifiedSigners verified = verifiedSigners(messageFor({{.cert = icpSigner()}}));
    const sig::Signer& base = verified.signers()[0];
    const QDateTime first(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    const QDateTime last(QDate(2026, 3, 2), QTime(15, 30, 45), Qt::UTC);
    using N = sig::AttributeName;
    const std::vector<sig::Attribute> attributes = {
        {N::SigningTime, "1.2.840.113549.1.9.5", first},
        {N::DocumentDescription, "1.3.6.1.4.1.311.88.2.2",
         QStringLiteral("<ct>CARIMBO_LOCAL</ct>")},
        {N::SigningTime, "1.2.840.113549.1.9.5", last},
        {N::DocumentDescription, "1.3.6.1.4.1.311.88.2.2", QStringLiteral("<ct>CARIMBO_ON</ct>")},
        {N::DocumentName, "1.3.6.1.4.1.311.88.2.1", QStringLiteral("nome.pdf")},
        {N::SigningTime, "1.2.840.113549.1.9.5", QVariant()},
        {N::DocumentDescription, "1.3.6.1.4.1.311.88.2.2", QVariant()},
        {N::DocumentName, "1.3.6.1.4.1.311.88.2.1", QVariant()},
        {N::Other, "1.2.3.4", QStringLiteral("<ct>CARIMBO_LOCAL</ct>")},
    };
    const SignatureResult entry =
        readSigner(sig::Signer(base.certificate(), attributes, base.chain()), 1);
    EXPECT_EQ(entry.signingTime, "02/03/2026 12:30:45");
    EXPECT_EQ(entry.timestampOrigin, kOn);
    EXPECT_EQ(entry.documentName, "nome.pdf");
}

TEST(SignatureTreeTest, ChainKeysStayUniqueWhenIndexesReachTwoDigits)
{
    SignatureResult first;
    first.index = 1;
    first.status.chain.resize(12);
    SignatureResult eleventh;
    eleventh.index = 11;
    eleventh.status.chain.resize(2);
    const std::vector<TreeNode> tree = buildTree({first, eleventh});

    const QStringList keys = keysOf(tree);
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    ASSERT_NE(findNode(tree, "ChildEA1.12"), nullptr);
    ASSERT_NE(findNode(tree, "ChildEA11.2"), nullptr);
    EXPECT_EQ(findNode(tree, "ChildEA1.12")->parentKey, "ChildE1");
    EXPECT_EQ(findNode(tree, "ChildEA11.2")->parentKey, "ChildE11");
    EXPECT_EQ(findNode(tree, "ChildEA11.2")->signer, 11);
    EXPECT_EQ(findNode(tree, "ChildEA11.2")->chainPosition, 2);
    EXPECT_EQ(findNode(tree, "ChildEA1.12")->chainPosition, 12);
}

TEST(SignatureTreeTest, WithoutSignersThereIsOnlyTheRoot)
{
    const std::vector<TreeNode> tree = buildTree({});
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].key, "Root");
    EXPECT_EQ(tree[0].parentKey, "");
    EXPECT_TRUE(tree[0].expanded);
    EXPECT_EQ(tree[0].signer, 0);
    EXPECT_EQ(tree[0].chainPosition, 0);
}
