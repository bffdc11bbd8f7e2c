#include "SignedData.h"

#include "InputForm.h"
#include "OpenSslHandles.h"
#include "SignatureError.h"
#include "TextDecoding.h"
#include "ValidationContext.h"

#include <openssl/err.h>

#include <array>

namespace selavia::signature {
namespace {

constexpr int kReadBlock = 1 << 16;

bool isUnsupportedReason(unsigned long error)
{
    const int library = ERR_GET_LIB(error);
    const int reason = ERR_GET_REASON(error);
    if (reason == ERR_R_UNSUPPORTED)
        return true;
    if (library == ERR_LIB_CMS)
        return reason == CMS_R_UNKNOWN_DIGEST_ALGORITHM || reason == CMS_R_NO_PUBLIC_KEY ||
               reason == CMS_R_UNSUPPORTED_SIGNATURE_ALGORITHM;
    if (library == ERR_LIB_EVP)
        return reason == EVP_R_UNSUPPORTED_ALGORITHM ||
               reason == EVP_R_OPERATION_NOT_SUPPORTED_FOR_THIS_KEYTYPE ||
               reason == EVP_R_NO_DEFAULT_DIGEST || reason == EVP_R_UNKNOWN_DIGEST;
    return false;
}

bool isDigestLengthReason(unsigned long error)
{
    return ERR_GET_LIB(error) == ERR_LIB_CMS &&
           ERR_GET_REASON(error) == CMS_R_MESSAGEDIGEST_ATTRIBUTE_WRONG_LENGTH;
}

// What a failed OpenSSL check means for the user: the algorithm is beyond
// us, or the signature simply does not verify.
SignatureError signatureFailure(int result, std::uint32_t mismatchCode)
{
    std::vector<unsigned long> errors = drainOpenSslErrors();
    if (result == 0)
        return SignatureError::withDetails(mismatchCode, errors);
    std::uint32_t failure = code::kBadSignature;
    for (unsigned long error : errors) {
        if (isUnsupportedReason(error))
            return SignatureError::withDetails(code::kUnsupportedAlgorithm, errors);
        if (isDigestLengthReason(error))
            failure = code::kHashMismatch;
    }
    return SignatureError::withDetails(failure, errors);
}

bool hasSignedAttributes(CMS_SignerInfo* info) { return CMS_signed_get_attr_count(info) >= 0; }

ossl::UniqueCms parseSignedData(QByteArrayView binary)
{
    const auto* cursor = reinterpret_cast<const unsigned char*>(binary.data());
    ossl::UniqueCms cms(d2i_CMS_ContentInfo(nullptr, &cursor, binary.size()));
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
        throw SignatureError::fromOpenSsl(code::kNotSignedData);
    ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
    if (content == nullptr || *content == nullptr)
        throw SignatureError::fromOpenSsl(code::kDetachedContent);
    return cms;
}

STACK_OF(CMS_SignerInfo) * signerInfos(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    if (infos == nullptr)
        throw SignatureError::fromOpenSsl(code::kNotSignedData);
    return infos;
}

X509* signerCertificate(CMS_SignerInfo* info)
{
    X509* certificate = nullptr;
    EVP_PKEY* key = nullptr;
    CMS_SignerInfo_get0_algs(info, &key, &certificate, nullptr, nullptr);
    if (certificate == nullptr)
        throw SignatureError::of(code::kSignerCertificateMissing);
    if (key == nullptr)
        throw SignatureError::fromOpenSsl(code::kUnsupportedAlgorithm);
    return certificate;
}

void attachSignerCertificates(CMS_ContentInfo* cms)
{
    // Content without any signature proves nothing about its integrity.
    if (sk_CMS_SignerInfo_num(signerInfos(cms)) <= 0)
        throw SignatureError::of(code::kNoSigners);
    CMS_set1_signers_certs(cms, nullptr, 0);
    ERR_clear_error();
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i)
        signerCertificate(sk_CMS_SignerInfo_value(infos, i));
}

// Signatures over the signed attributes, signer by signer.
void verifyAttributeSignatures(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        if (!hasSignedAttributes(info))
            continue;
        int result = CMS_SignerInfo_verify(info);
        if (result != 1)
            throw signatureFailure(result, code::kBadSignature);
    }
}

// Hashes the content once per digest algorithm, then checks each signer's
// message digest (or, without signed attributes, its signature).
void verifyContent(CMS_ContentInfo* cms)
{
    ossl::UniqueBio chain(CMS_dataInit(cms, nullptr));
    if (!chain)
        throw signatureFailure(-1, code::kBadSignature);
    std::array<char, kReadBlock> block{};
    while (BIO_read(chain.get(), block.data(), kReadBlock) > 0) {
    }
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        int result = CMS_SignerInfo_verify_content(info, chain.get());
        if (result != 1)
            throw signatureFailure(result, hasSignedAttributes(info) ? code::kHashMismatch
                                                                      : code::kBadSignature);
    }
}

AttributeName attributeName(const QString& oid)
{
    if (oid == QLatin1String("1.2.840.113549.1.9.5"))
        return AttributeName::SigningTime;
    if (oid == QLatin1String("1.3.6.1.4.1.311.88.2.1"))
        return AttributeName::DocumentName;
    if (oid == QLatin1String("1.3.6.1.4.1.311.88.2.2"))
        return AttributeName::DocumentDescription;
    return AttributeName::Other;
}

QVariant attributeValue(AttributeName name, X509_ATTRIBUTE* attribute)
{
    ASN1_TYPE* value =
        X509_ATTRIBUTE_count(attribute) > 0 ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
    if (value == nullptr)
        return {};
    switch (name) {
    case AttributeName::SigningTime: {
        if (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME)
            return {};
        QDateTime moment = text::decodeTime(value->value.asn1_string);
        return moment.isValid() ? QVariant(moment) : QVariant();
    }
    case AttributeName::DocumentName:
    case AttributeName::DocumentDescription: {
        auto decoded = text::decodeTextValue(value);
        return decoded ? QVariant(*decoded) : QVariant();
    }
    case AttributeName::Other:
        break;
    }
    return {};
}

std::vector<Attribute> readAttributes(CMS_SignerInfo* info)
{
    std::vector<Attribute> attributes;
    const int count = CMS_signed_get_attr_count(info);
    for (int i = 0; i < count; ++i) {
        X509_ATTRIBUTE* raw = CMS_signed_get_attr(info, i);
        std::array<char, 128> oid{};
        OBJ_obj2txt(oid.data(), oid.size(), X509_ATTRIBUTE_get0_object(raw), 1);
        Attribute attribute;
        attribute.oid = QString::fromLatin1(oid.data());
        attribute.name = attributeName(attribute.oid);
        attribute.value = attributeValue(attribute.name, raw);
        attributes.push_back(std::move(attribute));
    }
    return attributes;
}

std::shared_ptr<const ValidationContext> makeContext(CMS_ContentInfo* cms, TrustStore store)
{
    ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    if (!certificates)
        certificates.reset(sk_X509_new_null());
    ossl::UniqueCrlStack crls(CMS_get1_crls(cms));
    if (!crls)
        crls.reset(sk_X509_CRL_new_null());
    if (!certificates || !crls)
        throw SignatureError::fromOpenSsl(code::kInternal);
    return std::make_shared<const ValidationContext>(std::move(store), std::move(certificates),
                                                     std::move(crls));
}

std::vector<Signer> makeSigners(CMS_ContentInfo* cms,
                                const std::shared_ptr<const ValidationContext>& context)
{
    std::vector<Signer> signers;
    STACK_OF(CMS_SignerInfo)* infos = signerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        Certificate certificate(signerCertificate(info), context);
        Chain chain;
        try {
            chain.build(certificate);
        } catch (const SignatureError&) {
            // A chain that cannot be built stays empty; judging it is the
            // caller's matter.
        }
        signers.emplace_back(std::move(certificate), readAttributes(info), std::move(chain));
    }
    return signers;
}

} // namespace

struct SignedData::State {
    ossl::UniqueCms cms;
    std::vector<Signer> signers;
    InputForm form = InputForm::Der;
};

SignedData::SignedData(TrustStore trustStore) : trustStore_(std::move(trustStore)) {}
SignedData::~SignedData() = default;
SignedData::SignedData(SignedData&&) noexcept = default;
SignedData& SignedData::operator=(SignedData&&) noexcept = default;

void SignedData::verify(QByteArrayView message, bool detached, int flag)
{
    state_.reset();
    ERR_clear_error();
    if (detached || flag != 0)
        throw SignatureError(code::kInternal,
                             QStringLiteral("Modo de verificação não suportado."));
    SniffedInput input = sniffInput(message);
    auto state = std::make_unique<State>();
    state->form = input.form;
    state->cms = parseSignedData(input.binary);
    attachSignerCertificates(state->cms.get());
    verifyAttributeSignatures(state->cms.get());
    verifyContent(state->cms.get());
    state->signers = makeSigners(state->cms.get(), makeContext(state->cms.get(), trustStore_));
    ERR_clear_error();
    state_ = std::move(state);
}

bool SignedData::isVerified() const { return state_ != nullptr; }

QByteArray SignedData::content() const
{
    if (!state_)
        throw SignatureError::of(code::kNotVerified);
    ASN1_OCTET_STRING** content = CMS_get0_content(state_->cms.get());
    return QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(*content)),
                      ASN1_STRING_length(*content));
}

const std::vector<Signer>& SignedData::signers() const
{
    if (!state_)
        throw SignatureError::of(code::kNotVerified);
    return state_->signers;
}

InputForm SignedData::inputForm() const
{
    if (!state_)
        throw SignatureError::of(code::kNotVerified);
    return state_->form;
}

namespace utilities {
QByteArray base64Decode(const QString& text)
{
    QByteArray compact = text.toLatin1();
    compact.replace('\r', "").replace('\n', "").replace(' ', "").replace('\t', "");
    auto result = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        throw SignatureError::of(code::kBadBase64);
    return result.decoded;
}
} // namespace utilities

} // namespace selavia::signature
