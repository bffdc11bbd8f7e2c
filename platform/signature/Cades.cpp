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

// Verifies each value of `attribute` with `verify` into `results`, up to
// `limit` in all; past it, `unchecked` goes to the signer's problems once.
template <typename Result, typename Verify>
void verifyValues(X509_ATTRIBUTE* attribute, std::vector<Result>& results, int limit,
                  const QString& unchecked, QStringList& problems, Verify verify)
{
    for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
        if (static_cast<int>(results.size()) >= limit) {
            problems << unchecked;
            return;
        }
        results.push_back(verify(asn1::der(X509_ATTRIBUTE_get0_type(attribute, v))));
    }
}

// Tokens and counter-signatures among the values of one unsigned attribute.
void readUnsigned(CadesInfo& cades, const QString& oid, X509_ATTRIBUTE* attribute,
                  QByteArrayView signatureValue, const CadesContext& context)
{
    if (oid == kTimeStampTokenOid) {
        verifyValues(attribute, cades.timeStamps, limits::kMaxTimeStampTokens,
                     QStringLiteral("só os %1 primeiros carimbos do tempo foram verificados")
                         .arg(limits::kMaxTimeStampTokens),
                     cades.problems, [&](const QByteArray& token) {
                         return verifyTimeStampToken(token, signatureValue, context);
                     });
    } else if (oid == kCounterSignatureOid) {
        verifyValues(attribute, cades.counterSignatures, limits::kMaxCounterSignatures,
                     QStringLiteral("só as %1 primeiras contra-assinaturas foram verificadas")
                         .arg(limits::kMaxCounterSignatures),
                     cades.problems, [&](const QByteArray& signerInfo) {
                         return verifyCounterSignature(signerInfo, signatureValue, context);
                     });
    }
}

// The facts a policy's rules need of the signer beyond its attributes.
void readSignerFacts(CadesInfo& cades, CMS_SignerInfo* info, X509* signer)
{
    for (int i = 0; i < CMS_signed_get_attr_count(info); ++i) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(info, i);
        if (X509_ATTRIBUTE_count(attribute) == 0)
            cades.emptySignedAttributeOids << asn1::oidText(X509_ATTRIBUTE_get0_object(attribute));
    }
    X509_ALGOR* digest = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, &digest, nullptr);
    const ASN1_OBJECT* digestOid = nullptr;
    if (digest != nullptr)
        X509_ALGOR_get0(&digestOid, nullptr, nullptr, digest);
    cades.digestAlgorithmOid = asn1::oidText(digestOid);
    EVP_PKEY* key = signer != nullptr ? X509_get0_pubkey(signer) : nullptr;
    if (key != nullptr) {
        const int type = EVP_PKEY_get_base_id(key);
        cades.keyAlgorithmOid = type != NID_undef ? asn1::oidText(OBJ_nid2obj(type)) : QString();
        cades.keyBits = EVP_PKEY_get_bits(key);
    }
}

} // namespace

CadesContext cadesContextOf(CMS_ContentInfo* cms,
                            std::shared_ptr<const ValidationContext> validation)
{
    const ossl::ErrorQueueGuard guard;
    CadesContext context;
    ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i)
        context.messageCertificates.emplace_back(sk_X509_value(certificates.get(), i), validation);
    context.validation = std::move(validation);
    return context;
}

CadesInfo readCades(CMS_SignerInfo* info, X509* signer, const CadesContext& context)
{
    const ossl::ErrorQueueGuard guard;
    CadesInfo cades;
    cades.signingCertificate = signerBinding(info, signer);
    cades.policy = readSignaturePolicy(info);
    readSignerFacts(cades, info, signer);
    const QByteArrayView signatureValue = asn1::bytes(CMS_SignerInfo_get0_signature(info));
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
        if (X509_ATTRIBUTE_count(attribute) == 0)
            cades.emptyUnsignedAttributeOids << oid;
        readUnsigned(cades, oid, attribute, signatureValue, context);
    }
    cades.problems.removeDuplicates();
    return cades;
}

} // namespace selavia::signature::detail
