#include "platform/signature/CertificateDetails.h"

#include "platform/signature/Chain.h"
#include "tests/support/Fixtures.h"

#include <QDateTime>
#include <gtest/gtest.h>
#include <map>

using namespace selavia::testing;

namespace {

std::map<QString, QString> fieldMap(const std::vector<sig::CertificateField>& fields)
{
    std::map<QString, QString> map;
    for (const sig::CertificateField& field : fields)
        map[field.name] = field.value;
    return map;
}

fx::Cert holder(fx::KeyType keyType = fx::KeyType::EcP256)
{
    return icpSigner("FULANO DE TAL:12345678901", "12345678901", 0, 0, keyType);
}

} // namespace

TEST(CertificateDetailsTest, PublicKeyAndSignatureAlgorithmFollowTheKeys)
{
    const sig::Certificate ec = verifiedSigner(holder());
    EXPECT_EQ(sig::publicKeyDescription(ec), "EC (P-256)");
    EXPECT_EQ(fieldMap(sig::detailFields(ec, {}))["Chave pública"], "EC (P-256)");

    const sig::Certificate rsa = verifiedSigner(holder(fx::KeyType::Rsa2048));
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
    ASSERT_TRUE(chain.build(verifiedSigner(holder())));
    const sig::Certificate& intermediate = chain.certificates().item(1);
    std::map<QString, QString> fields = fieldMap(sig::detailFields(
        intermediate, [](const QDateTime& moment) { return moment.toString(Qt::ISODate); }));
    EXPECT_EQ(fields["Restrições básicas (crítica)"], "CA:TRUE");
    EXPECT_EQ(fields["Uso da chave (crítica)"], "Assinatura de certificado\nAssinatura de LCR");
    EXPECT_EQ(fields["Válido a partir de"], intermediate.validFromDate().toString(Qt::ISODate));
    EXPECT_EQ(fields.count("Identificador da chave do requerente"), 1u);
    EXPECT_EQ(sig::certificatePurposes(intermediate),
              QStringList({"Assinatura de certificado", "Assinatura de LCR"}));
}

namespace {

// An end entity of the ICP-like intermediate with the given usages, in
// OpenSSL's configuration syntax; none when empty.
sig::Certificate withUsages(const std::string& keyUsage, const std::string& extendedKeyUsage)
{
    static const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    fx::CertSpec spec;
    spec.subject = {{"C", "BR"}, {"CN", "USOS:12345678901"}};
    spec.issuer = &icp.intermediate;
    if (!keyUsage.empty())
        spec.extensions.push_back({"keyUsage", keyUsage});
    if (!extendedKeyUsage.empty())
        spec.extensions.push_back({"extendedKeyUsage", extendedKeyUsage});
    return sig::Certificate::fromDer(bytes(fx::makeCertificate(spec).der()));
}

} // namespace

TEST(CertificateDetailsTest, UsagesAreReadFromTheCertificateAndNamedInPortuguese)
{
    struct Row {
        std::string keyUsage;
        std::string extendedKeyUsage;
        QStringList keyUsages;
        QStringList extendedKeyUsages;
    };
    const std::vector<Row> rows = {
        // Every bit of keyUsage, in bit order whatever the order written.
        {"critical,decipherOnly,encipherOnly,cRLSign,keyCertSign,keyAgreement,dataEncipherment,"
         "keyEncipherment,nonRepudiation,digitalSignature",
         "",
         {"Assinatura digital", "Não repúdio", "Cifragem de chave", "Cifragem de dados",
          "Acordo de chave", "Assinatura de certificado", "Assinatura de LCR", "Somente cifragem",
          "Somente decifragem"},
         {}},
        // An ICP-Brasil A3 holder's: extended usages in the certificate's order,
        // the smart-card logon of other desktops among them.
        {"critical,digitalSignature,nonRepudiation,keyEncipherment",
         "clientAuth,emailProtection,1.3.6.1.4.1.311.20.2.2",
         {"Assinatura digital", "Não repúdio", "Cifragem de chave"},
         {"Autenticação de cliente TLS", "Proteção de e-mail", "Logon com cartão inteligente"}},
        {"",
         "serverAuth,codeSigning,timeStamping,OCSPSigning,anyExtendedKeyUsage",
         {},
         {"Autenticação de servidor TLS", "Assinatura de código", "Carimbo do tempo",
          "Assinatura de OCSP", "Qualquer uso estendido da chave"}},
        // An usage this program has no name for keeps its dotted OID.
        {"", "1.2.3.4.5.6.7,clientAuth", {}, {"1.2.3.4.5.6.7", "Autenticação de cliente TLS"}},
        {"", "", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keyUsage + " / " + row.extendedKeyUsage);
        const sig::Certificate certificate = withUsages(row.keyUsage, row.extendedKeyUsage);
        EXPECT_EQ(sig::keyUsageNames(certificate), row.keyUsages);
        EXPECT_EQ(sig::extendedKeyUsageNames(certificate), row.extendedKeyUsages);

        // The details show the same names, one a line.
        std::map<QString, QString> fields = fieldMap(sig::detailFields(certificate, {}));
        const QString keyUsageField =
            row.keyUsage.starts_with("critical") ? "Uso da chave (crítica)" : "Uso da chave";
        EXPECT_EQ(fields.count(keyUsageField), row.keyUsages.isEmpty() ? 0u : 1u);
        if (!row.keyUsages.isEmpty()) {
            EXPECT_EQ(fields[keyUsageField], row.keyUsages.join('\n'));
        }
        if (!row.extendedKeyUsages.isEmpty()) {
            EXPECT_EQ(fields["Uso estendido da chave"], row.extendedKeyUsages.join('\n'));
        }

        // The purposes: the extended usages, else the key usages, else all.
        QStringList purposes =
            row.extendedKeyUsages.isEmpty() ? row.keyUsages : row.extendedKeyUsages;
        if (purposes.isEmpty())
            purposes << "Todas as finalidades (o certificado não as restringe)";
        EXPECT_EQ(sig::certificatePurposes(certificate), purposes);
    }
}
