#include "app/CertificateDialog.h"

#include "fileinfo/FileHandler.h"
#include "platform/signature/CertificateDetails.h"
#include "platform/signature/SignedData.h"
#include "tests/support/Printers.h"
#include "tools/fixtures/FixtureBuilder.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <map>

namespace fx = selavia::fixtures;
namespace sig = selavia::signature;
using selavia::app::CertificateDialog;

namespace {

QByteArray bytes(const fx::Bytes& raw)
{
    return QByteArray::fromStdString(raw);
}

fx::Cert icpSigner(std::time_t notBefore = 0, std::time_t notAfter = 0,
                   fx::KeyType keyType = fx::KeyType::EcP256)
{
    return fx::issueEndEntity(
        fx::icpBrasilHierarchy().intermediate, "FULANO DE TAL:12345678901",
        {fx::SanEntry::email("fulano@example.com.br"), fx::icpPersonal("01021980", "12345678901")},
        notBefore, notAfter, keyType);
}

// The signer's certificate as the document window gets it: out of a verified
// message that carries the signer's intermediate and root.
sig::Certificate verifiedSigner(const fx::Cert& signer, bool trustRoot = true,
                                const fx::Hierarchy& hierarchy = fx::icpBrasilHierarchy())
{
    fx::MessageSpec spec;
    spec.signers.push_back({.cert = signer});
    spec.extraCertificates = {hierarchy.intermediate, hierarchy.root};
    sig::TrustStore store = sig::TrustStore::empty();
    if (trustRoot)
        store.addTrusted(bytes(hierarchy.root.der()));
    sig::SignedData data(store);
    data.verify(bytes(fx::makeSignedMessage(spec)));
    return data.signers()[0].certificate();
}

QString labelText(const QWidget& dialog, const char* name)
{
    const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    return label != nullptr ? label->text() : QStringLiteral("<no label %1>").arg(name);
}

// Field name → the value the box below the list shows when its row is selected.
std::map<QString, QString> selectedValues(QTreeWidget& list, const QPlainTextEdit& box)
{
    std::map<QString, QString> fields;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        list.setCurrentItem(list.topLevelItem(i));
        fields[list.topLevelItem(i)->text(0)] = box.toPlainText();
    }
    return fields;
}

std::map<QString, QString> fieldMap(const std::vector<sig::CertificateField>& fields)
{
    std::map<QString, QString> map;
    for (const sig::CertificateField& field : fields)
        map[field.name] = field.value;
    return map;
}

} // namespace

TEST(CertificateDialogTest, GeneralTabNamesSubjectIssuerPeriodAndValidity)
{
    const sig::Certificate certificate = verifiedSigner(icpSigner());
    CertificateDialog dialog(certificate);
    EXPECT_EQ(dialog.objectName(), "CertificateDialog");
    auto* tabs = dialog.findChild<QTabWidget*>("certificateTabs");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Geral");
    EXPECT_EQ(tabs->tabText(1), "Detalhes");
    EXPECT_EQ(tabs->tabText(2), "Caminho de certificação");

    EXPECT_EQ(labelText(dialog, "issuedTo"), "FULANO DE TAL:12345678901");
    EXPECT_EQ(labelText(dialog, "issuedBy"), "AC Intermediaria de Teste v5");
    const QString period = labelText(dialog, "validityPeriod");
    EXPECT_TRUE(period.contains(selavia::fileinfo::GeneralDateText(certificate.validFromDate())))
        << period.toStdString();
    EXPECT_TRUE(period.contains(selavia::fileinfo::GeneralDateText(certificate.validToDate())))
        << period.toStdString();
    EXPECT_EQ(labelText(dialog, "generalStatus"), "Este certificado é válido.");
    EXPECT_TRUE(labelText(dialog, "purposes").contains("Todas as finalidades"));
}

TEST(CertificateDialogTest, DetailsListEveryFieldAndTheBoxShowsTheSelectedOneInFull)
{
    const sig::Certificate certificate = verifiedSigner(icpSigner());
    CertificateDialog dialog(certificate);
    auto* list = dialog.findChild<QTreeWidget*>("detailsList");
    auto* value = dialog.findChild<QPlainTextEdit*>("detailValue");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(value, nullptr);
    ASSERT_GT(list->topLevelItemCount(), 9);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Versão");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "V3");
    EXPECT_EQ(value->toPlainText(), "V3") << "the first field is selected at first";

    std::map<QString, QString> fields = selectedValues(*list, *value);
    EXPECT_EQ(fields["Número de série"], certificate.serialNumber());
    EXPECT_EQ(fields["Emissor"], certificate.issuerName());
    EXPECT_EQ(fields["Requerente"], certificate.subjectName());
    EXPECT_EQ(fields["Válido até"], selavia::fileinfo::GeneralDateText(certificate.validToDate()));
    EXPECT_EQ(fields["Algoritmo de assinatura"], "sha256WithRSAEncryption");
    EXPECT_EQ(list->topLevelItem(list->topLevelItemCount() - 1)->text(0),
              "Impressão digital (SHA-1)");
    EXPECT_EQ(fields["Impressão digital (SHA-1)"], certificate.thumbprint());

    const QString names = fields["Nome alternativo do requerente"];
    EXPECT_TRUE(names.contains("email:fulano@example.com.br")) << names.toStdString();
    EXPECT_TRUE(names.contains("othername:2.16.76.1.3.1:0102198012345678901"))
        << names.toStdString();

    // Every line in the box, one line in the list.
    QList<QTreeWidgetItem*> rows =
        list->findItems("Nome alternativo do requerente", Qt::MatchExactly);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(names.contains('\n'));
    EXPECT_FALSE(rows[0]->text(1).contains('\n'));
}

TEST(CertificateDialogTest, PathNestsRootAboveIntermediateAboveTheCertificate)
{
    CertificateDialog dialog(verifiedSigner(icpSigner()));
    auto* tree = dialog.findChild<QTreeWidget*>("pathTree");
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), "Autoridade Certificadora Raiz Brasileira v5");
    ASSERT_EQ(root->childCount(), 1);
    QTreeWidgetItem* intermediate = root->child(0);
    EXPECT_EQ(intermediate->text(0), "AC Intermediaria de Teste v5");
    ASSERT_EQ(intermediate->childCount(), 1);
    QTreeWidgetItem* signer = intermediate->child(0);
    EXPECT_EQ(signer->text(0), "FULANO DE TAL:12345678901");
    EXPECT_EQ(signer->childCount(), 0);
    EXPECT_EQ(tree->currentItem(), signer);
    // Nothing could say whether the signer was revoked; the root needs no answer.
    const QString unknown = "Desconhecida: não foi possível consultar a situação de revogação";
    EXPECT_EQ(labelText(dialog, "pathStatus"),
              "Este certificado é válido.\n\nSituação de revogação: " + unknown);
    EXPECT_EQ(labelText(dialog, "revocationStatus"), unknown);
    tree->setCurrentItem(root);
    EXPECT_EQ(labelText(dialog, "pathStatus"),
              "Este certificado é válido.\n\nSituação de revogação: Não revogado: raiz "
              "confiável: a revogação não se aplica");
}

TEST(CertificateDialogTest, StatusNamesTheProblemAndFollowsTheSelectedCertificate)
{
    CertificateDialog untrusted(verifiedSigner(icpSigner(), /*trustRoot=*/false));
    for (const char* label : {"generalStatus", "pathStatus"}) {
        const QString text = labelText(untrusted, label);
        EXPECT_TRUE(text.startsWith("Este certificado não é válido:")) << text.toStdString();
        EXPECT_TRUE(text.contains("raiz confiável")) << text.toStdString();
    }

    const std::time_t now = std::time(nullptr);
    CertificateDialog expired(verifiedSigner(icpSigner(now - 30 * 86400, now - 86400)));
    EXPECT_TRUE(labelText(expired, "pathStatus").contains("expirou"));
    auto* tree = expired.findChild<QTreeWidget*>("pathTree");
    ASSERT_NE(tree, nullptr);
    tree->setCurrentItem(tree->topLevelItem(0));
    EXPECT_TRUE(labelText(expired, "pathStatus").startsWith("Este certificado é válido.\n"))
        << "the root is fine";
}

TEST(CertificateDialogTest, DisplayOpensTheDialogOnceInstalled)
{
    selavia::app::installCertificateDialog();
    QString shown;
    // exec() only returns once the dialog is closed, so close it from its own loop.
    QTimer::singleShot(0, [&shown] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<CertificateDialog*>(widget);
                dialog && dialog->isVisible()) {
                shown = dialog->findChild<QLabel*>("issuedTo")->text();
                dialog->accept();
            }
        }
    });
    sig::display(verifiedSigner(icpSigner()));
    sig::setCertificateDisplayHandler(nullptr);
    EXPECT_EQ(shown, "FULANO DE TAL:12345678901");
}

TEST(CertificateDetailsTest, PublicKeyAndSignatureAlgorithmFollowTheKeys)
{
    const sig::Certificate ec = verifiedSigner(icpSigner());
    EXPECT_EQ(sig::publicKeyDescription(ec), "EC (P-256)");
    EXPECT_EQ(fieldMap(sig::detailFields(ec, {}))["Chave pública"], "EC (P-256)");

    const sig::Certificate rsa = verifiedSigner(icpSigner(0, 0, fx::KeyType::Rsa2048));
    EXPECT_EQ(sig::publicKeyDescription(rsa), "RSA (2048 bits)");
    EXPECT_EQ(fieldMap(sig::detailFields(rsa, {}))["Chave pública"], "RSA (2048 bits)");

    const fx::Hierarchy& foreign = fx::foreignHierarchy(); // an EC issuer
    const sig::Certificate underEc =
        verifiedSigner(fx::issueEndEntity(foreign.intermediate, "Jane Roe", {}), true, foreign);
    EXPECT_EQ(sig::signatureAlgorithmName(underEc), "ecdsa-with-SHA256");
    EXPECT_EQ(sig::issuerSimpleName(underEc), "Foreign Test Intermediate CA");
}

TEST(CertificateDetailsTest, CaExtensionsAreMarkedCriticalAndGiveThePurposes)
{
    sig::Chain chain;
    ASSERT_TRUE(chain.build(verifiedSigner(icpSigner())));
    const sig::Certificate& intermediate = chain.certificates().item(1);
    std::map<QString, QString> fields = fieldMap(sig::detailFields(
        intermediate, [](const QDateTime& moment) { return moment.toString(Qt::ISODate); }));
    EXPECT_EQ(fields["Restrições básicas (crítica)"], "CA:TRUE");
    EXPECT_EQ(fields["Uso da chave (crítica)"], "Certificate Sign, CRL Sign");
    EXPECT_EQ(fields["Válido a partir de"], intermediate.validFromDate().toString(Qt::ISODate));
    EXPECT_EQ(fields.count("Identificador da chave do requerente"), 1u);
    EXPECT_EQ(
        sig::certificatePurposes(intermediate),
        QStringList({"Emissão de certificados", "Emissão de listas de certificados revogados"}));
}
