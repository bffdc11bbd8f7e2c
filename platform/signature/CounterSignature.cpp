#include "CounterSignature.h"

#include "Asn1Items.h"
#include "Limits.h"
#include "OpenSslHandles.h"
#include "SignerEncoding.h"
#include "TextDecoding.h"

#include <algorithm>
#include <openssl/err.h>
#include <openssl/rsa.h>
#include <vector>

namespace selavia::signature {
namespace {

using asn1::element;

// OpenSSL's CMS code verifies a SignerInfo only inside a SignedData, so the
// counter-signature goes into one of its own: no content (what it signs is
// fed beside it), no certificates (the message's are handed over).
ossl::UniqueCms wrapped(QByteArrayView signerInfo)
{
    static const QByteArray kSignedDataOid("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 11);
    static const QByteArray kDataOid("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01", 11);
    const QByteArray signedData =
        element(0x30, QByteArray("\x02\x01\x01\x31\x00", 5) + element(0x30, kDataOid) +
                          element(0x31, signerInfo.toByteArray()));
    const QByteArray contentInfo = element(0x30, kSignedDataOid + element('\xA0', signedData));
    const auto* cursor = reinterpret_cast<const unsigned char*>(contentInfo.constData());
    ossl::UniqueCms cms(d2i_CMS_ContentInfo(nullptr, &cursor, contentInfo.size()));
    STACK_OF(CMS_SignerInfo)* infos = cms ? CMS_get0_SignerInfos(cms.get()) : nullptr;
    if (infos == nullptr || sk_CMS_SignerInfo_num(infos) != 1)
        return {};
    return cms;
}

ossl::UniqueX509Stack messageCertificates(const CadesContext& context)
{
    ossl::UniqueX509Stack stack(sk_X509_new_null());
    for (const Certificate& certificate : context.messageCertificates) {
        if (!stack || X509_add_cert(stack.get(), certificate.handle(), X509_ADD_FLAG_UP_REF) != 1)
            return {};
    }
    return stack;
}

void readSignedAttributes(CounterSignature& result, CMS_SignerInfo* info)
{
    const int count = std::min(CMS_signed_get_attr_count(info), limits::kMaxSignedAttributes);
    for (int i = 0; i < count; ++i)
        result.signedAttributeOids
            << asn1::oidText(X509_ATTRIBUTE_get0_object(CMS_signed_get_attr(info, i)));
    const int at = CMS_signed_get_attr_by_NID(info, NID_pkcs9_signingTime, -1);
    if (at < 0)
        return;
    const ASN1_TYPE* time = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(info, at), 0);
    if (asn1::isA(time, V_ASN1_UTCTIME) || asn1::isA(time, V_ASN1_GENERALIZEDTIME))
        result.signingTime = text::decodeTime(time->value.asn1_string);
}

// The message digest (or, without signed attributes, the signature) over
// the parent's signature value.
bool coversParent(CMS_SignerInfo* info, QByteArrayView parentSignature)
{
    X509_ALGOR* digestAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, &digestAlgorithm, nullptr);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, digestAlgorithm);
    const EVP_MD* md = EVP_get_digestbyobj(oid);
    ossl::UniqueBio sink(BIO_new(BIO_s_null()));
    ossl::UniqueBio digest(BIO_new(BIO_f_md()));
    if (md == nullptr || !sink || !digest || BIO_set_md(digest.get(), md) != 1)
        return false;
    BIO* chain = BIO_push(digest.get(), sink.release());
    if (BIO_write(chain, parentSignature.data(), static_cast<int>(parentSignature.size())) !=
        parentSignature.size())
        return false;
    return CMS_SignerInfo_verify_content(info, chain) == 1;
}

// The signature over the signed attributes, as stored and, when that fails,
// in DER order. OpenSSL's CMS_SignerInfo_verify cannot serve: it insists on
// a content-type attribute, which a counter-signature must not carry (RFC
// 5652 11.4).
bool attributesVerify(CMS_SignerInfo* info, X509* signer)
{
    EVP_PKEY* key = X509_get0_pubkey(signer);
    return detail::verifySignedAttributes(info, key, detail::AttributeOrder::Stored) ||
           (!detail::storedInDerOrder(info) &&
            detail::verifySignedAttributes(info, key, detail::AttributeOrder::Der));
}

// How deep and how wide counter-signatures of counter-signatures are
// looked at: real files go one or two deep; a hostile one must not make
// thousands of verifications out of a few per level.
constexpr int kMaxDepth = 3;
constexpr int kMaxNested = 4;

void verifyNested(CounterSignature& result, CMS_SignerInfo* info, const CadesContext& context,
                  int depth)
{
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(info);
    const QByteArrayView signature(ASN1_STRING_get0_data(value), ASN1_STRING_length(value));
    for (int i = 0; i < CMS_unsigned_get_attr_count(info); ++i) {
        X509_ATTRIBUTE* attribute = CMS_unsigned_get_attr(info, i);
        if (OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute)) != NID_pkcs9_countersignature)
            continue;
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
            if (depth >= kMaxDepth ||
                static_cast<int>(result.counterSignatures.size()) >= kMaxNested) {
                result.problems << QStringLiteral(
                    "há contra-assinaturas desta contra-assinatura que não foram verificadas");
                return;
            }
            result.counterSignatures.push_back(verifyCounterSignature(
                asn1::der(X509_ATTRIBUTE_get0_type(attribute, v)), signature, context, depth + 1));
        }
    }
}

void verifySigner(CounterSignature& result, CMS_SignerInfo* info, X509* signer,
                  QByteArrayView parentSignature)
{
    if (!detail::signatureAlgorithmKnown(info) || X509_get0_pubkey(signer) == nullptr) {
        result.uncheckable = true;
        result.problems << QStringLiteral(
            "a contra-assinatura usa um algoritmo não suportado: não foi possível verificá-la");
        return;
    }
    if (!detail::algorithmsAgree(info)) {
        result.problems << QStringLiteral(
            "o algoritmo da contra-assinatura não usa o algoritmo de hash declarado");
        return;
    }
    const bool attributes = CMS_signed_get_attr_count(info) >= 0;
    if (attributes && !attributesVerify(info, signer))
        result.problems << QStringLiteral("a contra-assinatura não confere com o certificado");
    else if (!coversParent(info, parentSignature))
        result.problems << (attributes ? QStringLiteral("a contra-assinatura não corresponde a "
                                                        "esta assinatura")
                                       : QStringLiteral("a contra-assinatura não confere com o "
                                                        "certificado"));
}

} // namespace

CounterSignature verifyCounterSignature(QByteArrayView signerInfo, QByteArrayView parentSignature,
                                        const CadesContext& context, int depth)
{
    const ossl::ErrorQueueGuard guard;
    CounterSignature result;
    ossl::UniqueCms cms =
        signerInfo.size() <= limits::kMaxCadesValueBytes ? wrapped(signerInfo) : nullptr;
    ossl::UniqueX509Stack certificates = messageCertificates(context);
    if (!cms || !certificates) {
        result.problems << QStringLiteral("contra-assinatura ilegível");
        return result;
    }
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    readSignedAttributes(result, info);
    CMS_set1_signers_certs(cms.get(), certificates.get(), 0);
    ERR_clear_error(); // a certificate not found is told below, not by OpenSSL
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, &signer, nullptr, nullptr);
    if (signer == nullptr) {
        result.uncheckable = true;
        result.problems << QStringLiteral("o certificado do contra-assinante não está na mensagem");
    } else {
        result.certificate = Certificate(signer, context.validation);
        result.signerName = detail::simpleName(signer);
        verifySigner(result, info, signer, parentSignature);
    }
    result.signatureValid = result.problems.isEmpty();
    verifyNested(result, info, context, depth);
    return result;
}

} // namespace selavia::signature
