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
    EXPECT_EQ(fields["Uso da chave (crítica)"], "Certificate Sign, CRL Sign");
    EXPECT_EQ(fields["Válido a partir de"], intermediate.validFromDate().toString(Qt::ISODate));
    EXPECT_EQ(fields.count("Identificador da chave do requerente"), 1u);
    EXPECT_EQ(
        sig::certificatePurposes(intermediate),
        QStringList({"Emissão de certificados", "Emissão de listas de certificados revogados"}));
}
