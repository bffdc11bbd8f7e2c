#include "TimeStampToken.h"

#include "Limits.h"
#include "OpenSslHandles.h"
#include "ParsedCertificates.h"
#include "SignatureError.h"
#include "SigningCertificate.h"
#include "TextDecoding.h"
#include "ValidationContext.h"

#include <array>
#include <openssl/err.h>

namespace selavia::signature {
namespace {

QString unreadableToken()
{
    return QStringLiteral("carimbo do tempo ilegível");
}

struct ParsedToken {
    ossl::UniqueCms cms;
    ossl::UniqueTstInfo info;
};

// The token through the CMS parser, which steps over attribute certificates
// where the PKCS#7 parser of OpenSSL's TS code gives up.
std::optional<ParsedToken> parseToken(QByteArrayView token)
{
    ParsedToken parsed;
    // A time-stamping authority's certificates come with every token.
    parsed.cms = certificates::messageSharingThem(token);
    if (!parsed.cms) {
        const auto* cursor = reinterpret_cast<const unsigned char*>(token.data());
        parsed.cms.reset(d2i_CMS_ContentInfo(nullptr, &cursor, token.size()));
    }
    if (!parsed.cms || OBJ_obj2nid(CMS_get0_type(parsed.cms.get())) != NID_pkcs7_signed ||
        OBJ_obj2nid(CMS_get0_eContentType(parsed.cms.get())) != NID_id_smime_ct_TSTInfo)
        return std::nullopt;
    ASN1_OCTET_STRING** content = CMS_get0_content(parsed.cms.get());
    if (content == nullptr || *content == nullptr)
        return std::nullopt;
    const unsigned char* start = ASN1_STRING_get0_data(*content);
    const unsigned char* info = start;
    parsed.info.reset(d2i_TS_TST_INFO(nullptr, &info, ASN1_STRING_length(*content)));
    if (!parsed.info || info != start + ASN1_STRING_length(*content))
        return std::nullopt;
    return parsed;
}

// The token's certificates, then the message's: where the TSA's
// certificate is looked for.
ossl::UniqueX509Stack helperCertificates(CMS_ContentInfo* cms, const CadesContext& context)
{
    ossl::UniqueX509Stack helpers(CMS_get1_certs(cms));
    if (!helpers)
        helpers.reset(sk_X509_new_null());
    if (!helpers || sk_X509_num(helpers.get()) > limits::kMaxTokenCertificates)
        return {};
    for (const Certificate& certificate : context.messageCertificates) {
        if (X509_add_cert(helpers.get(), certificate.handle(), X509_ADD_FLAG_UP_REF) != 1)
            return {};
    }
    return helpers;
}

// The TSA's signature over the token's signed attributes and, through the
// message-digest attribute, over the TSTInfo.
bool signatureVerifies(CMS_ContentInfo* cms, CMS_SignerInfo* info)
{
    if (CMS_signed_get_attr_count(info) < 0 || CMS_SignerInfo_verify(info) != 1)
        return false;
    ossl::UniqueBio chain(CMS_dataInit(cms, nullptr));
    if (!chain)
        return false;
    std::array<char, 4096> buffer{};
    while (BIO_read(chain.get(), buffer.data(), static_cast<int>(buffer.size())) > 0) {
    }
    return CMS_SignerInfo_verify_content(info, chain.get()) == 1;
}

// Whether the token's imprint is the hash of what it stamps; a hash that
// cannot be computed here goes to `unchecked`.
std::optional<QString> imprintProblem(TS_TST_INFO* info, const Imprinted& imprinted,
                                      QStringList& unchecked)
{
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info);
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    const EVP_MD* md = EVP_get_digestbyobj(algorithm);
    if (md == nullptr)
        return QStringLiteral("algoritmo de resumo do carimbo do tempo não suportado");
    const std::optional<QByteArray> digest = imprinted.hash(md);
    if (!digest) {
        unchecked << QStringLiteral("o resumo do carimbo do tempo (%1) não pôde ser conferido")
                         .arg(QString::fromLatin1(EVP_MD_get0_name(md)));
        return std::nullopt;
    }
    const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
    if (QByteArrayView(*digest) !=
        QByteArrayView(ASN1_STRING_get0_data(hashed), ASN1_STRING_length(hashed))) {
        if (!imprinted.mismatchUnconfirmed)
            return imprinted.mismatch;
        unchecked << imprinted.mismatch;
    }
    return std::nullopt;
}

// RFC 3161 2.3: the TSA's certificate holds extendedKeyUsage timeStamping,
// marked critical. Other purposes beside it are let pass.
std::optional<QString> usageProblem(X509* tsa)
{
    const int index = X509_get_ext_by_NID(tsa, NID_ext_key_usage, -1);
    if (index < 0 || (X509_get_extension_flags(tsa) & EXFLAG_XKUSAGE) == 0 ||
        (X509_get_extended_key_usage(tsa) & XKU_TIMESTAMP) == 0)
        return QStringLiteral("o certificado da ACT não tem o uso estendido de chave carimbo do "
                              "tempo (timeStamping)");
    if (X509_EXTENSION_get_critical(X509_get_ext(tsa, index)) != 1)
        return QStringLiteral("o uso estendido de chave do certificado da ACT não é crítico");
    return std::nullopt;
}

std::optional<QString> essProblem(CMS_SignerInfo* info, X509* tsa)
{
    const SigningCertificateCheck check = detail::essBinding(info, tsa);
    switch (check.binding) {
    case CertificateBinding::Matches:
        return std::nullopt;
    case CertificateBinding::Absent:
        return QStringLiteral("o carimbo do tempo não identifica o certificado da ACT");
    case CertificateBinding::Mismatch:
        return QStringLiteral("o certificado da ACT não é o indicado no carimbo do tempo");
    case CertificateBinding::Unreadable:
        break;
    }
    return check.problems.value(0, unreadableToken());
}

// The token's own certificates help build chains from now on, the TSA's
// first among them.
void shareTokenCertificates(CMS_ContentInfo* cms, const CadesContext& context)
{
    ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    std::vector<std::shared_ptr<X509>> found;
    for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i)
        found.push_back(ossl::shared(ossl::upRef(sk_X509_value(certificates.get(), i))));
    if (context.validation)
        context.validation->addHelpers(found);
}

// What is known of the TSA once its certificate is found, but its chain.
void judgeTsa(TimeStampToken& result, CMS_SignerInfo* info, X509* tsa, const CadesContext& context)
{
    result.tsaCertificate = Certificate(tsa, context.validation);
    result.tsaName = detail::simpleName(tsa);
    if (auto problem = usageProblem(tsa))
        result.problems << *problem;
    if (auto problem = essProblem(info, tsa))
        result.problems << *problem;
}

void verifyParsed(TimeStampToken& result, ParsedToken& token, const Imprinted& imprinted,
                  const CadesContext& context)
{
    const ossl::ErrorQueueGuard guard;
    result.genTime = text::decodeTime(TS_TST_INFO_get_time(token.info.get()));
    if (!result.genTime.isValid())
        result.problems << QStringLiteral("data do carimbo do tempo ilegível");
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(token.cms.get());
    if (infos == nullptr || sk_CMS_SignerInfo_num(infos) != 1) {
        result.problems << QStringLiteral("o carimbo do tempo deve ter exatamente um signatário");
        return;
    }
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, 0);
    ossl::UniqueX509Stack helpers = helperCertificates(token.cms.get(), context);
    if (!helpers) {
        result.problems << QStringLiteral("o carimbo do tempo tem certificados demais");
        return;
    }
    CMS_set1_signers_certs(token.cms.get(), helpers.get(), 0);
    ERR_clear_error(); // a certificate not found is told below, not by OpenSSL
    X509* tsa = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, &tsa, nullptr, nullptr);
    if (auto problem = imprintProblem(token.info.get(), imprinted, result.unchecked))
        result.problems << *problem;
    if (tsa == nullptr) {
        result.problems << QStringLiteral(
            "o certificado da ACT não está no carimbo nem na mensagem");
        return;
    }
    if (!signatureVerifies(token.cms.get(), info))
        result.problems << QStringLiteral("a assinatura da ACT no carimbo do tempo não confere");
    shareTokenCertificates(token.cms.get(), context);
    judgeTsa(result, info, tsa, context);
}

} // namespace

TimeStampToken verifyTimeStampToken(QByteArrayView token, QByteArrayView signatureValue,
                                    const CadesContext& context)
{
    const Imprinted imprinted{
        [signatureValue](const EVP_MD* md) -> std::optional<QByteArray> {
            std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
            unsigned int length = 0;
            if (EVP_Digest(signatureValue.data(), static_cast<size_t>(signatureValue.size()),
                           digest.data(), &length, md, nullptr) != 1)
                return std::nullopt;
            return QByteArray(reinterpret_cast<const char*>(digest.data()), length);
        },
        QStringLiteral("o carimbo do tempo não corresponde a esta assinatura")};
    return verifyTimeStampToken(token, imprinted, context);
}

TimeStampToken verifyTimeStampToken(QByteArrayView token, const Imprinted& imprinted,
                                    const CadesContext& context)
{
    const ossl::ErrorQueueGuard guard;
    TimeStampToken result;
    if (token.size() > limits::kMaxCadesValueBytes) {
        result.problems << QStringLiteral("o carimbo do tempo excede o tamanho aceito");
        return result;
    }
    std::optional<ParsedToken> parsed = parseToken(token);
    if (!parsed)
        result.problems << unreadableToken();
    else
        verifyParsed(result, *parsed, imprinted, context);
    return result;
}

} // namespace selavia::signature
