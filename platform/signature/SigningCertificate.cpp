#include "SigningCertificate.h"

#include "Asn1Items.h"
#include "OpenSslHandles.h"

#include <openssl/err.h>

namespace selavia::signature::detail {
namespace {

const QString kV1Oid = QStringLiteral("1.2.840.113549.1.9.16.2.12");
const QString kV2Oid = QStringLiteral("1.2.840.113549.1.9.16.2.47");

// A verdict on one attribute.
struct Finding {
    CertificateBinding binding = CertificateBinding::Unreadable;
    QString problem;
    QString warning;
};

Finding unreadable(const QString& oid, const QString& why)
{
    const QString name = oid == kV1Oid ? QStringLiteral("signing-certificate")
                                       : QStringLiteral("signing-certificate-v2");
    return {CertificateBinding::Unreadable, QStringLiteral("atributo %1 %2").arg(name, why), {}};
}

const EVP_MD* digestOf(const ASN1_TYPE* algorithmItem)
{
    const QByteArray encoded = asn1::der(algorithmItem);
    const auto* cursor = reinterpret_cast<const unsigned char*>(encoded.constData());
    ossl::UniqueX509Algor algorithm(d2i_X509_ALGOR(nullptr, &cursor, encoded.size()));
    if (!algorithm)
        return nullptr;
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm.get());
    return EVP_get_digestbyobj(oid);
}

bool sameHash(X509* certificate, const EVP_MD* md, QByteArrayView expected)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, md, digest, &length) != 1)
        return false;
    return QByteArrayView(digest, length) == expected;
}

// IssuerSerial: GeneralNames holding the issuer's directory name, and the serial.
bool sameIssuerSerial(X509* certificate, const ASN1_TYPE* issuerSerial, bool& readable)
{
    ossl::UniqueAsn1Sequence items = asn1::sequence(issuerSerial);
    const ASN1_TYPE* names = asn1::at(items.get(), 0);
    const ASN1_TYPE* serial = asn1::at(items.get(), 1);
    const QByteArray namesDer = asn1::der(names);
    const auto* cursor = reinterpret_cast<const unsigned char*>(namesDer.constData());
    ossl::UniqueGeneralNames generalNames(asn1::isA(names, V_ASN1_SEQUENCE)
                                              ? d2i_GENERAL_NAMES(nullptr, &cursor, namesDer.size())
                                              : nullptr);
    readable = generalNames &&
               (asn1::isA(serial, V_ASN1_INTEGER) || asn1::isA(serial, V_ASN1_NEG_INTEGER));
    if (!readable)
        return false;
    if (ASN1_INTEGER_cmp(serial->value.integer, X509_get0_serialNumber(certificate)) != 0)
        return false;
    for (int i = 0; i < sk_GENERAL_NAME_num(generalNames.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(generalNames.get(), i);
        if (name->type == GEN_DIRNAME &&
            X509_NAME_cmp(name->d.directoryName, X509_get_issuer_name(certificate)) == 0)
            return true;
    }
    return false;
}

// SigningCertificate(V2) ::= SEQUENCE { certs SEQUENCE OF ESSCertID(v2), policies OPTIONAL }
// ESSCertID   ::= SEQUENCE { certHash OCTET STRING, issuerSerial OPTIONAL }
// ESSCertIDv2 ::= SEQUENCE { hashAlgorithm DEFAULT sha256, certHash, issuerSerial OPTIONAL }
Finding judge(const QString& oid, const ASN1_TYPE* value, X509* certificate)
{
    ossl::UniqueAsn1Sequence outer = asn1::sequence(value);
    ossl::UniqueAsn1Sequence certs = asn1::sequence(asn1::at(outer.get(), 0));
    ossl::UniqueAsn1Sequence id = asn1::sequence(asn1::at(certs.get(), 0));
    if (!id)
        return unreadable(oid, QStringLiteral("ilegível"));
    int next = 0;
    const EVP_MD* md = oid == kV1Oid ? EVP_sha1() : EVP_sha256();
    if (oid == kV2Oid && asn1::isA(asn1::at(id.get(), 0), V_ASN1_SEQUENCE)) {
        md = digestOf(asn1::at(id.get(), next++));
        if (md == nullptr)
            return unreadable(oid, QStringLiteral("com algoritmo de hash não suportado"));
    }
    const ASN1_TYPE* hash = asn1::at(id.get(), next++);
    if (!asn1::isA(hash, V_ASN1_OCTET_STRING))
        return unreadable(oid, QStringLiteral("ilegível"));
    if (!sameHash(certificate, md, asn1::bytes(hash)))
        return {CertificateBinding::Mismatch, {}, {}};
    const ASN1_TYPE* issuerSerial = asn1::at(id.get(), next);
    if (issuerSerial == nullptr)
        return {CertificateBinding::Matches, {}, {}};
    bool readable = false;
    const bool same = sameIssuerSerial(certificate, issuerSerial, readable);
    if (!readable)
        return unreadable(oid, QStringLiteral("com emissor e número de série ilegíveis"));
    // The hash identifies the certificate; signers that write the issuer's
    // name in another order (or another serial form) still meant this one.
    if (same)
        return {CertificateBinding::Matches, {}, {}};
    return {CertificateBinding::Matches,
            {},
            QStringLiteral("o emissor e o número de série indicados no atributo %1 não conferem "
                           "com o certificado do signatário (o hash do certificado confere)")
                .arg(oid == kV1Oid ? QStringLiteral("signing-certificate")
                                   : QStringLiteral("signing-certificate-v2"))};
}

// Mismatch outweighs unreadable, which outweighs a match.
int weight(CertificateBinding binding)
{
    switch (binding) {
    case CertificateBinding::Mismatch:
        return 3;
    case CertificateBinding::Unreadable:
        return 2;
    case CertificateBinding::Matches:
        return 1;
    case CertificateBinding::Absent:
        break;
    }
    return 0;
}

} // namespace

SigningCertificateCheck essBinding(CMS_SignerInfo* info, X509* certificate)
{
    const ossl::ErrorQueueGuard guard;
    SigningCertificateCheck check;
    const int attributes = CMS_signed_get_attr_count(info);
    for (int i = 0; i < attributes; ++i) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(info, i);
        const QString oid = asn1::oidText(X509_ATTRIBUTE_get0_object(attribute));
        if (oid != kV1Oid && oid != kV2Oid)
            continue;
        Finding finding = X509_ATTRIBUTE_count(attribute) == 1
                              ? judge(oid, X509_ATTRIBUTE_get0_type(attribute, 0), certificate)
                              : unreadable(oid, QStringLiteral("deve ter exatamente um valor"));
        if (!finding.problem.isEmpty() && !check.problems.contains(finding.problem))
            check.problems << finding.problem;
        if (!finding.warning.isEmpty() && !check.warnings.contains(finding.warning))
            check.warnings << finding.warning;
        // v2 decides between attributes of equal weight: it is the current one.
        if (weight(finding.binding) > weight(check.binding) ||
            (weight(finding.binding) == weight(check.binding) && oid == kV2Oid)) {
            check.binding = finding.binding;
            check.attributeOid = oid;
        }
    }
    return check;
}

} // namespace selavia::signature::detail
