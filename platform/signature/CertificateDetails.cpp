#include "CertificateDetails.h"

#include "OpenSslHandles.h"
#include "SignatureError.h"
#include "TextDecoding.h"

#include <QByteArrayView>
#include <algorithm>
#include <array>
#include <cstdint>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/objects.h>

namespace selavia::signature {
namespace {

QString bioText(BIO* bio)
{
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? QString::fromUtf8(data, static_cast<qsizetype>(length)) : QString();
}

QString dottedOid(const ASN1_OBJECT* object)
{
    std::array<char, 128> buffer{};
    if (object == nullptr || OBJ_obj2txt(buffer.data(), buffer.size(), object, 1) <= 0)
        return {};
    return QString::fromLatin1(buffer.data());
}

QString hexDump(QByteArrayView bytes)
{
    constexpr qsizetype kPerLine = 16;
    QStringList lines;
    for (qsizetype offset = 0; offset < bytes.size(); offset += kPerLine) {
        QByteArrayView line = bytes.sliced(offset, std::min(kPerLine, bytes.size() - offset));
        lines << QString::fromLatin1(line.toByteArray().toHex(' ').toUpper());
    }
    return lines.join(QLatin1Char('\n'));
}

// OpenSSL indents nested items; the dialog's text box does not need that.
QString tidyLines(const QString& text)
{
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        QString trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            lines << trimmed;
    }
    return lines.join(QLatin1Char('\n'));
}

bool isPrintableAscii(QByteArrayView bytes)
{
    return !bytes.isEmpty() &&
           std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// OpenSSL 3.0 prints "<unsupported>" for most other names, which hides the
// ICP-Brasil entries (personal data, CNPJ, voter id) people look for.
QString otherNameText(const OTHERNAME* other)
{
    const QString prefix = QStringLiteral("othername:%1:").arg(dottedOid(other->type_id));
    const ASN1_TYPE* value = other->value;
    if (value == nullptr)
        return prefix;
    switch (value->type) {
    case V_ASN1_UTF8STRING:
    case V_ASN1_BMPSTRING:
        return prefix + text::toQString(value->value.asn1_string);
    case V_ASN1_OCTET_STRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_VISIBLESTRING: {
        const ASN1_STRING* string = value->value.asn1_string;
        QByteArrayView bytes(ASN1_STRING_get0_data(string), ASN1_STRING_length(string));
        if (isPrintableAscii(bytes))
            return prefix + QString::fromLatin1(bytes);
        return prefix + QString::fromLatin1(bytes.toByteArray().toHex(':').toUpper());
    }
    default:
        break;
    }
    int length = i2d_ASN1_TYPE(value, nullptr);
    if (length <= 0)
        return prefix;
    QByteArray der(length, '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    i2d_ASN1_TYPE(value, &out);
    return prefix + QString::fromLatin1(der.toHex(':').toUpper());
}

// One name a line; empty when the extension does not decode.
QString alternativeNamesText(X509_EXTENSION* extension)
{
    ossl::UniqueGeneralNames names(static_cast<GENERAL_NAMES*>(X509V3_EXT_d2i(extension)));
    if (!names)
        return {};
    QStringList lines;
    for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
        GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_OTHERNAME) {
            lines << otherNameText(name->d.otherName);
            continue;
        }
        ossl::UniqueBio bio(BIO_new(BIO_s_mem()));
        if (!bio || GENERAL_NAME_print(bio.get(), name) != 1)
            return {};
        lines << bioText(bio.get());
    }
    return lines.join(QLatin1Char('\n'));
}

QString firstIssuerEntry(X509* certificate, int nid)
{
    const X509_NAME* issuer = X509_get_issuer_name(certificate);
    int index = X509_NAME_get_index_by_NID(issuer, nid, -1);
    if (index < 0)
        return {};
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(issuer, index);
    return entry != nullptr ? text::toQString(X509_NAME_ENTRY_get_data(entry)) : QString();
}

struct NamedFlag {
    std::uint32_t flag;
    const char* text; // UTF-8
};

QStringList flagTexts(std::uint32_t flags, std::initializer_list<NamedFlag> names)
{
    QStringList result;
    for (const NamedFlag& name : names) {
        if ((flags & name.flag) != 0)
            result << QString::fromUtf8(name.text);
    }
    return result;
}

} // namespace

std::vector<CertificateField> detailFields(const Certificate& certificate,
                                           const DateTextFunction& dateText)
{
    if (certificate.isNull())
        throw SignatureError::of(code::kCertificateUnreadable);
    const ossl::ErrorQueueGuard guard;
    auto when = [&dateText](const QDateTime& moment) {
        return dateText ? dateText(moment) : moment.toString(Qt::ISODate);
    };
    std::vector<CertificateField> fields{
        {QStringLiteral("Versão"), QStringLiteral("V%1").arg(certificate.version())},
        {QStringLiteral("Número de série"), certificate.serialNumber()},
        {QStringLiteral("Algoritmo de assinatura"), signatureAlgorithmName(certificate)},
        {QStringLiteral("Emissor"), certificate.issuerName()},
        {QStringLiteral("Válido a partir de"), when(certificate.validFromDate())},
        {QStringLiteral("Válido até"), when(certificate.validToDate())},
        {QStringLiteral("Requerente"), certificate.subjectName()},
        {QStringLiteral("Chave pública"), publicKeyDescription(certificate)},
    };
    const std::vector<Extension> extensions = certificate.extensions();
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        QString name = extensionName(extensions[i].oid);
        if (extensions[i].critical)
            name += QStringLiteral(" (crítica)");
        fields.push_back({name, extensionText(certificate, static_cast<int>(i))});
    }
    fields.push_back({QStringLiteral("Impressão digital (SHA-1)"), certificate.thumbprint()});
    return fields;
}

QString issuerSimpleName(const Certificate& certificate)
{
    if (certificate.isNull())
        return {};
    const ossl::ErrorQueueGuard guard;
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                    NID_pkcs9_emailAddress}) {
        QString value = firstIssuerEntry(certificate.handle(), nid);
        if (!value.isEmpty())
            return value;
    }
    return {};
}

QString publicKeyDescription(const Certificate& certificate)
{
    if (certificate.isNull())
        return {};
    const ossl::ErrorQueueGuard guard;
    const EVP_PKEY* key = X509_get0_pubkey(certificate.handle());
    if (key == nullptr)
        return QStringLiteral("desconhecida");
    const QString bits = QString::number(EVP_PKEY_get_bits(key));
    const int type = EVP_PKEY_get_base_id(key);
    switch (type) {
    case EVP_PKEY_RSA:
        return QStringLiteral("RSA (%1 bits)").arg(bits);
    case EVP_PKEY_RSA_PSS:
        return QStringLiteral("RSA-PSS (%1 bits)").arg(bits);
    case EVP_PKEY_DSA:
        return QStringLiteral("DSA (%1 bits)").arg(bits);
    case EVP_PKEY_EC: {
        std::array<char, 80> group{};
        if (EVP_PKEY_get_group_name(key, group.data(), group.size(), nullptr) != 1)
            return QStringLiteral("EC (%1 bits)").arg(bits);
        const char* nist = EC_curve_nid2nist(OBJ_txt2nid(group.data()));
        return QStringLiteral("EC (%1)").arg(
            QString::fromLatin1(nist != nullptr ? nist : group.data()));
    }
    case EVP_PKEY_ED25519:
        return QStringLiteral("Ed25519");
    case EVP_PKEY_ED448:
        return QStringLiteral("Ed448");
    default:
        break;
    }
    const char* name = EVP_PKEY_get0_type_name(key);
    if (name == nullptr)
        name = OBJ_nid2sn(type);
    return QStringLiteral("%1 (%2 bits)")
        .arg(name != nullptr ? QString::fromLatin1(name) : QStringLiteral("desconhecida"), bits);
}

QString signatureAlgorithmName(const Certificate& certificate)
{
    if (certificate.isNull())
        return {};
    const ossl::ErrorQueueGuard guard;
    const int nid = X509_get_signature_nid(certificate.handle());
    const char* longName = nid != NID_undef ? OBJ_nid2ln(nid) : nullptr;
    if (longName != nullptr)
        return QString::fromLatin1(longName);
    const X509_ALGOR* algorithm = nullptr;
    X509_get0_signature(nullptr, &algorithm, certificate.handle());
    const ASN1_OBJECT* object = nullptr;
    if (algorithm != nullptr)
        X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    return dottedOid(object);
}

QString extensionName(const QString& oid)
{
    struct KnownName {
        const char* oid;
        const char* name; // UTF-8
    };
    static constexpr std::array<KnownName, 12> kKnown{{
        {"2.5.29.14", "Identificador da chave do requerente"},
        {"2.5.29.15", "Uso da chave"},
        {"2.5.29.17", "Nome alternativo do requerente"},
        {"2.5.29.18", "Nome alternativo do emissor"},
        {"2.5.29.19", "Restrições básicas"},
        {"2.5.29.30", "Restrições de nome"},
        {"2.5.29.31", "Pontos de distribuição da LCR"},
        {"2.5.29.32", "Políticas de certificado"},
        {"2.5.29.35", "Identificador da chave da autoridade"},
        {"2.5.29.36", "Restrições de política"},
        {"2.5.29.37", "Uso estendido da chave"},
        {"1.3.6.1.5.5.7.1.1", "Acesso às informações da autoridade"},
    }};
    for (const KnownName& known : kKnown) {
        if (oid == QLatin1String(known.oid))
            return QString::fromUtf8(known.name);
    }
    const ossl::ErrorQueueGuard guard;
    const int nid = OBJ_txt2nid(oid.toLatin1().constData());
    const char* longName = nid != NID_undef ? OBJ_nid2ln(nid) : nullptr;
    return longName != nullptr ? QString::fromLatin1(longName) : oid;
}

QString extensionText(const Certificate& certificate, int index)
{
    if (certificate.isNull() || index < 0 || index >= X509_get_ext_count(certificate.handle()))
        return {};
    const ossl::ErrorQueueGuard guard;
    X509_EXTENSION* extension = X509_get_ext(certificate.handle(), index);
    QString text;
    if (OBJ_obj2nid(X509_EXTENSION_get_object(extension)) == NID_subject_alt_name)
        text = alternativeNamesText(extension);
    if (text.isEmpty()) {
        ossl::UniqueBio bio(BIO_new(BIO_s_mem()));
        if (bio && X509V3_EXT_print(bio.get(), extension, X509V3_EXT_DEFAULT, 0) == 1)
            text = tidyLines(bioText(bio.get()));
    }
    if (text.isEmpty()) {
        const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
        text = hexDump(QByteArrayView(ASN1_STRING_get0_data(data), ASN1_STRING_length(data)));
    }
    return text;
}

QStringList certificatePurposes(const Certificate& certificate)
{
    if (certificate.isNull())
        return {};
    const ossl::ErrorQueueGuard guard;
    // Both return UINT32_MAX when the extension is absent.
    const std::uint32_t extended = X509_get_extended_key_usage(certificate.handle());
    if (extended != UINT32_MAX) {
        QStringList purposes = flagTexts(
            extended, {
                          {XKU_ANYEKU, "Todas as finalidades de aplicação"},
                          {XKU_SSL_SERVER, "Garante a identidade de um computador remoto"},
                          {XKU_SSL_CLIENT, "Comprova sua identidade a um computador remoto"},
                          {XKU_SMIME, "Protege mensagens de correio eletrônico"},
                          {XKU_CODE_SIGN, "Garante que o software veio do editor indicado"},
                          {XKU_TIMESTAMP, "Carimba dados com a data e a hora"},
                          {XKU_OCSP_SIGN, "Assina respostas sobre a situação de certificados"},
                      });
        if (purposes.isEmpty())
            purposes << QStringLiteral("Finalidades definidas pelo emissor (veja “Uso estendido da "
                                       "chave” em Detalhes)");
        return purposes;
    }
    const std::uint32_t usage = X509_get_key_usage(certificate.handle());
    if (usage != UINT32_MAX) {
        QStringList purposes =
            flagTexts(usage, {
                                 {KU_DIGITAL_SIGNATURE, "Assinatura digital"},
                                 {KU_NON_REPUDIATION, "Não repúdio (assinatura de documentos)"},
                                 {KU_KEY_ENCIPHERMENT, "Cifragem de chaves"},
                                 {KU_DATA_ENCIPHERMENT, "Cifragem de dados"},
                                 {KU_KEY_AGREEMENT, "Acordo de chaves"},
                                 {KU_KEY_CERT_SIGN, "Emissão de certificados"},
                                 {KU_CRL_SIGN, "Emissão de listas de certificados revogados"},
                             });
        if (purposes.isEmpty())
            purposes << QStringLiteral("Finalidades definidas pelo emissor (veja “Uso da chave” em "
                                       "Detalhes)");
        return purposes;
    }
    return {QStringLiteral("Todas as finalidades (o certificado não as restringe)")};
}

} // namespace selavia::signature
