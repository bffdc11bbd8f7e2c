#include "Cades.h"

#include "Asn1Items.h"
#include "Limits.h"
#include "OpenSslHandles.h"

#include <openssl/err.h>

namespace selavia::signature::detail {
namespace {

const QString kTimeStampTokenOid = QStringLiteral("1.2.840.113549.1.9.16.2.14");
const QString kCounterSignatureOid = QStringLiteral("1.2.840.113549.1.9.6");
const QString kArchiveTimeStampV2Oid = QStringLiteral("1.2.840.113549.1.9.16.2.48");
const char* const kContentTimeStampOid = "1.2.840.113549.1.9.16.2.20";

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

QString tooManyTokens()
{
    return QStringLiteral("só os %1 primeiros carimbos do tempo foram verificados")
        .arg(limits::kMaxTimeStampTokens);
}

// An archive time-stamp's imprint: the content, the message's certificates
// and lists, the signer's fields to its signature, then its unsigned
// attributes before the one at `index`.
Imprinted archiveImprint(CMS_SignerInfo* info, int index, QByteArrayView signatureValue,
                         const CadesContext& context)
{
    QByteArray covered = context.archiveCoverage.collections;
    bool named = false;
    for (const auto& [signature, head] : context.archiveCoverage.signerHeads) {
        if (signature == signatureValue) {
            covered += head;
            named = true;
            break;
        }
    }
    for (int i = 0; i < index; ++i)
        covered += ossl::encoded(i2d_X509_ATTRIBUTE, CMS_unsigned_get_attr(info, i));
    const ContentDigests& digests = context.contentDigests;
    return {[named, covered, &digests](const EVP_MD* md) -> std::optional<QByteArray> {
                if (!named)
                    return std::nullopt;
                return contentHashThen(digests, md, covered);
            },
            QStringLiteral("o carimbo do tempo de arquivamento não pôde ser conferido: não "
                           "corresponde à assinatura como está gravada"),
            /*mismatchUnconfirmed=*/true};
}

void readContentTimeStamps(CadesInfo& cades, CMS_SignerInfo* info, const CadesContext& context)
{
    const Imprinted content{
        [&context](const EVP_MD* md) { return contentHashThen(context.contentDigests, md); },
        QStringLiteral("o carimbo do tempo não corresponde ao conteúdo")};
    ossl::UniqueAsn1Object oid(OBJ_txt2obj(kContentTimeStampOid, 1));
    const int at = oid ? CMS_signed_get_attr_by_OBJ(info, oid.get(), -1) : -1;
    if (at >= 0)
        verifyValues(
            CMS_signed_get_attr(info, at), cades.contentTimeStamps, limits::kMaxTimeStampTokens,
            tooManyTokens(), cades.problems,
            [&](const QByteArray& token) { return verifyTimeStampToken(token, content, context); });
}

// Tokens and counter-signatures among the values of the unsigned attribute
// at `index`.
void readUnsigned(CadesInfo& cades, CMS_SignerInfo* info, int index, QByteArrayView signatureValue,
                  const CadesContext& context)
{
    X509_ATTRIBUTE* attribute = CMS_unsigned_get_attr(info, index);
    const QString oid = asn1::oidText(X509_ATTRIBUTE_get0_object(attribute));
    if (oid == kArchiveTimeStampV2Oid) {
        const Imprinted covered = archiveImprint(info, index, signatureValue, context);
        verifyValues(attribute, cades.archiveTimeStamps, limits::kMaxTimeStampTokens,
                     tooManyTokens(), cades.problems, [&](const QByteArray& token) {
                         return verifyTimeStampToken(token, covered, context);
                     });
        return;
    }
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

// Whether any signer carries an archive time-stamp: only then is the
// message encoded again to find what they cover.
bool anyArchiveTimeStamp(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    for (int s = 0; s < sk_CMS_SignerInfo_num(infos); ++s) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, s);
        for (int i = 0; i < CMS_unsigned_get_attr_count(info); ++i) {
            if (asn1::oidText(X509_ATTRIBUTE_get0_object(CMS_unsigned_get_attr(info, i))) ==
                kArchiveTimeStampV2Oid)
                return true;
        }
    }
    return false;
}

} // namespace

CadesContext cadesContextOf(CMS_ContentInfo* cms,
                            std::shared_ptr<const ValidationContext> validation,
                            ContentDigests contentDigests)
{
    const ossl::ErrorQueueGuard guard;
    CadesContext context;
    ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i)
        context.messageCertificates.emplace_back(sk_X509_value(certificates.get(), i), validation);
    context.validation = std::move(validation);
    context.contentDigests = std::move(contentDigests);
    if (anyArchiveTimeStamp(cms))
        context.archiveCoverage = archiveCoverageOf(cms);
    return context;
}

CadesInfo readCades(CMS_SignerInfo* info, X509* signer, const CadesContext& context)
{
    const ossl::ErrorQueueGuard guard;
    CadesInfo cades;
    cades.signingCertificate = signerBinding(info, signer);
    cades.policy = readSignaturePolicy(info);
    readSignerFacts(cades, info, signer);
    readContentTimeStamps(cades, info, context);
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
        readUnsigned(cades, info, i, signatureValue, context);
    }
    cades.problems.removeDuplicates();
    return cades;
}

} // namespace selavia::signature::detail
