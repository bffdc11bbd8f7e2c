#include "Cades.h"

#include "Asn1Items.h"
#include "Limits.h"
#include "OpenSslHandles.h"

#include <openssl/err.h>

namespace selavia::signature::detail {
namespace {

const QString kTimeStampTokenOid = QStringLiteral("1.2.840.113549.1.9.16.2.14");
const QString kCounterSignatureOid = QStringLiteral("1.2.840.113549.1.9.6");

SigningCertificateCheck signerBinding(CMS_SignerInfo* info, X509* signer)
{
    SigningCertificateCheck check = essBinding(info, signer);
    if (check.binding == CertificateBinding::Mismatch)
        check.problems.prepend(
            QStringLiteral("o certificado do signatário não é o indicado na assinatura"));
    return check;
}

// Reads the values of one unsigned attribute as tokens or counter-signatures.
class UnsignedReader {
public:
    UnsignedReader(CadesInfo& cades, QByteArrayView signatureValue, const CadesContext& context)
        : cades_(cades), signatureValue_(signatureValue), context_(context)
    {
    }

    void read(const QString& oid, X509_ATTRIBUTE* attribute)
    {
        if (oid != kTimeStampTokenOid && oid != kCounterSignatureOid)
            return;
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
            const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, v);
            if (oid == kTimeStampTokenOid)
                addToken(value);
            else
                addCounterSignature(value);
        }
    }

private:
    void addToken(const ASN1_TYPE* token)
    {
        if (static_cast<int>(cades_.timeStamps.size()) >= limits::kMaxTimeStampTokens) {
            note(QStringLiteral("só os %1 primeiros carimbos do tempo foram verificados")
                     .arg(limits::kMaxTimeStampTokens));
            return;
        }
        cades_.timeStamps.push_back(
            verifyTimeStampToken(asn1::der(token), signatureValue_, context_));
    }

    void addCounterSignature(const ASN1_TYPE* signerInfo)
    {
        if (static_cast<int>(cades_.counterSignatures.size()) >= limits::kMaxCounterSignatures) {
            note(QStringLiteral("só as %1 primeiras contra-assinaturas foram verificadas")
                     .arg(limits::kMaxCounterSignatures));
            return;
        }
        cades_.counterSignatures.push_back(
            verifyCounterSignature(asn1::der(signerInfo), signatureValue_, context_));
    }

    void note(const QString& problem)
    {
        if (!cades_.problems.contains(problem))
            cades_.problems << problem;
    }

    CadesInfo& cades_;
    QByteArrayView signatureValue_;
    const CadesContext& context_;
};

} // namespace

CadesContext cadesContextOf(CMS_ContentInfo* cms, TrustStore trustStore,
                            std::shared_ptr<const ValidationContext> validation)
{
    CadesContext context;
    context.trustStore = std::move(trustStore);
    ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i)
        context.messageCertificates.emplace_back(sk_X509_value(certificates.get(), i), validation);
    context.validation = std::move(validation);
    ERR_clear_error();
    return context;
}

CadesInfo readCades(CMS_SignerInfo* info, X509* signer, const CadesContext& context)
{
    CadesInfo cades;
    cades.signingCertificate = signerBinding(info, signer);
    cades.policy = readSignaturePolicy(info);
    UnsignedReader reader(cades, asn1::bytes(CMS_SignerInfo_get0_signature(info)), context);
    const int count = CMS_unsigned_get_attr_count(info);
    for (int i = 0; i < count; ++i) {
        if (i == limits::kMaxUnsignedAttributes) {
            cades.problems << QStringLiteral(
                                  "só os %1 primeiros atributos não assinados foram lidos")
                                  .arg(limits::kMaxUnsignedAttributes);
            break;
        }
        X509_ATTRIBUTE* attribute = CMS_unsigned_get_attr(info, i);
        const QString oid = asn1::oidText(X509_ATTRIBUTE_get0_object(attribute));
        cades.unsignedAttributeOids << oid;
        reader.read(oid, attribute);
    }
    ERR_clear_error();
    return cades;
}

} // namespace selavia::signature::detail
