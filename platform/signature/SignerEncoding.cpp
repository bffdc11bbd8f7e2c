#include "SignerEncoding.h"

#include "Asn1Items.h"
#include "OpenSslHandles.h"

#include <QByteArray>
#include <algorithm>
#include <array>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <vector>

namespace selavia::signature::detail {
namespace {

QString algorithmName(const X509_ALGOR* algorithm)
{
    if (algorithm == nullptr)
        return {};
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    const int nid = OBJ_obj2nid(oid);
    if (nid != NID_undef)
        return QString::fromLatin1(OBJ_nid2sn(nid));
    std::array<char, 128> text{};
    OBJ_obj2txt(text.data(), text.size(), oid, 1);
    return QString::fromLatin1(text.data());
}

// The digest an algorithm identifier names: a digest's own, or the one a
// signature algorithm is made with; NID_undef when it names none.
int digestNid(const X509_ALGOR* algorithm)
{
    const ASN1_OBJECT* oid = nullptr;
    int parameterType = V_ASN1_UNDEF;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&oid, &parameterType, &parameter, algorithm);
    const int nid = OBJ_obj2nid(oid);
    if (nid == NID_rsassaPss) {
        // RSASSA-PSS carries its hash in its parameters, SHA-1 by default.
        if (parameterType != V_ASN1_SEQUENCE || parameter == nullptr)
            return NID_sha1;
        const auto* sequence = static_cast<const ASN1_STRING*>(parameter);
        const unsigned char* cursor = ASN1_STRING_get0_data(sequence);
        ossl::UniqueRsaPssParams params(
            d2i_RSA_PSS_PARAMS(nullptr, &cursor, ASN1_STRING_length(sequence)));
        if (!params)
            return NID_undef;
        if (params->hashAlgorithm == nullptr)
            return NID_sha1;
        const ASN1_OBJECT* hash = nullptr;
        X509_ALGOR_get0(&hash, nullptr, nullptr, params->hashAlgorithm);
        return OBJ_obj2nid(hash);
    }
    int digest = NID_undef;
    if (OBJ_find_sigid_algs(nid, &digest, nullptr) == 1)
        return digest;
    return EVP_get_digestbynid(nid) != nullptr ? nid : NID_undef;
}

QByteArray der(X509_ATTRIBUTE* attribute)
{
    return ossl::encoded(i2d_X509_ATTRIBUTE, attribute);
}

// DER's order for the elements of a SET OF: their encodings compared as
// octet strings, a shorter one first when it is the other's beginning.
bool derLess(const QByteArray& left, const QByteArray& right)
{
    return std::lexicographical_compare(
        reinterpret_cast<const unsigned char*>(left.constData()),
        reinterpret_cast<const unsigned char*>(left.constData()) + left.size(),
        reinterpret_cast<const unsigned char*>(right.constData()),
        reinterpret_cast<const unsigned char*>(right.constData()) + right.size());
}

std::vector<QByteArray> attributeEncodings(CMS_SignerInfo* info)
{
    std::vector<QByteArray> encodings;
    const int count = CMS_signed_get_attr_count(info);
    for (int i = 0; i < count; ++i) {
        QByteArray encoded = der(CMS_signed_get_attr(info, i));
        if (encoded.isEmpty())
            return {};
        encodings.push_back(std::move(encoded));
    }
    return encodings;
}

QByteArray setOf(const std::vector<QByteArray>& elements)
{
    QByteArray content;
    for (const QByteArray& element : elements)
        content += element;
    return asn1::element(0x31, content);
}

} // namespace

SignerAlgorithms signerAlgorithms(CMS_SignerInfo* info)
{
    SignerAlgorithms algorithms;
    EVP_PKEY* key = nullptr;
    X509_ALGOR* digest = nullptr;
    X509_ALGOR* signature = nullptr;
    CMS_SignerInfo_get0_algs(info, &key, nullptr, &digest, &signature);
    algorithms.digest = algorithmName(digest);
    algorithms.signature = algorithmName(signature);
    if (key != nullptr) {
        const char* type = EVP_PKEY_get0_type_name(key);
        algorithms.keyType = type != nullptr ? QString::fromLatin1(type) : QString();
        algorithms.keyBits = EVP_PKEY_get_bits(key);
    }
    return algorithms;
}

bool algorithmsAgree(CMS_SignerInfo* info)
{
    X509_ALGOR* digest = nullptr;
    X509_ALGOR* signature = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, &digest, &signature);
    if (digest == nullptr || signature == nullptr)
        return true;
    const int named = digestNid(signature);
    return named == NID_undef || named == digestNid(digest);
}

bool signatureAlgorithmKnown(CMS_SignerInfo* info)
{
    X509_ALGOR* signature = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, nullptr, &signature);
    if (signature == nullptr)
        return false;
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, signature);
    const int nid = OBJ_obj2nid(oid);
    if (nid == NID_undef)
        return false;
    int digest = NID_undef;
    if (OBJ_find_sigid_algs(nid, &digest, nullptr) == 1)
        return digest == NID_undef || EVP_get_digestbynid(digest) != nullptr;
    // A key's own algorithm named as the signature's, as CMS signers write it.
    return EVP_PKEY_asn1_find(nullptr, nid) != nullptr;
}

QStringList attributeFormatProblems(CMS_SignerInfo* info)
{
    struct Once {
        int nid;
        const char* name;
        int seen = 0;
        bool manyValues = false;
    };
    std::array<Once, 3> once = {{{NID_pkcs9_contentType, "content-type"},
                                 {NID_pkcs9_messageDigest, "message-digest"},
                                 {NID_pkcs9_signingTime, "signing-time"}}};
    const int count = CMS_signed_get_attr_count(info);
    for (int i = 0; i < count; ++i) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(info, i);
        const int nid = OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute));
        for (Once& rule : once) {
            if (rule.nid != nid)
                continue;
            ++rule.seen;
            rule.manyValues |= X509_ATTRIBUTE_count(attribute) != 1;
        }
    }
    QStringList problems;
    for (const Once& rule : once) {
        if (rule.seen > 1)
            problems << QStringLiteral("o atributo assinado %1 aparece %2 vezes; só pode aparecer "
                                       "uma vez")
                            .arg(QLatin1String(rule.name))
                            .arg(rule.seen);
        else if (rule.manyValues)
            problems << QStringLiteral("o atributo assinado %1 deve ter exatamente um valor")
                            .arg(QLatin1String(rule.name));
    }
    return problems;
}

bool storedInDerOrder(CMS_SignerInfo* info)
{
    const std::vector<QByteArray> encodings = attributeEncodings(info);
    return std::is_sorted(encodings.begin(), encodings.end(), derLess);
}

bool verifySignedAttributes(CMS_SignerInfo* info, EVP_PKEY* key, AttributeOrder order)
{
    std::vector<QByteArray> encodings = attributeEncodings(info);
    if (order == AttributeOrder::Der)
        std::stable_sort(encodings.begin(), encodings.end(), derLess);
    X509_ALGOR* digestAlgorithm = nullptr;
    X509_ALGOR* signatureAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, &digestAlgorithm, &signatureAlgorithm);
    if (encodings.empty() || key == nullptr || digestAlgorithm == nullptr ||
        signatureAlgorithm == nullptr)
        return false;
    const QByteArray signedBytes = setOf(encodings);
    const int keyType = EVP_PKEY_get_base_id(key);
    // EdDSA hashes by itself.
    const bool edDsa = keyType == EVP_PKEY_ED25519 || keyType == EVP_PKEY_ED448;
    const ASN1_OBJECT* digestOid = nullptr;
    X509_ALGOR_get0(&digestOid, nullptr, nullptr, digestAlgorithm);
    const EVP_MD* md = edDsa ? nullptr : EVP_get_digestbyobj(digestOid);
    ossl::UniqueEvpMdCtx context(EVP_MD_CTX_new());
    EVP_PKEY_CTX* keyContext = nullptr;
    if (!context || (!edDsa && md == nullptr) ||
        EVP_DigestVerifyInit(context.get(), &keyContext, md, nullptr, key) != 1)
        return false;
    const ASN1_OBJECT* signatureOid = nullptr;
    X509_ALGOR_get0(&signatureOid, nullptr, nullptr, signatureAlgorithm);
    if (OBJ_obj2nid(signatureOid) == NID_rsassaPss &&
        (EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PSS_PADDING) != 1 ||
         EVP_PKEY_CTX_set_rsa_pss_saltlen(keyContext, RSA_PSS_SALTLEN_AUTO) != 1))
        return false;
    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(info);
    return EVP_DigestVerify(context.get(), ASN1_STRING_get0_data(signature),
                            static_cast<size_t>(ASN1_STRING_length(signature)),
                            reinterpret_cast<const unsigned char*>(signedBytes.constData()),
                            static_cast<size_t>(signedBytes.size())) == 1;
}

} // namespace selavia::signature::detail
