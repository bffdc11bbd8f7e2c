#include "CertificateDetails.h"

#include "OpenSslHandles.h"
#include "SignatureError.h"
#include "TextDecoding.h"

#include <QByteArrayView>
#include <algorithm>
#include <array>
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

// The names of key usages, one table for the bits of keyUsage (RFC 5280
// numbering) and the OIDs of extendedKeyUsage, read from the certificate
// itself rather than from OpenSSL's English printout.
struct UsageName {
    int bit;          // keyUsage bit; -1 for an extended usage
    const char* oid;  // extendedKeyUsage OID; null for a bit
    const char* name; // UTF-8
};
constexpr std::array<UsageName, 24> kUsageNames{{
    {0, nullptr, "Assinatura digital"},
    {1, nullptr, "Não repúdio"},
    {2, nullptr, "Cifragem de chave"},
    {3, nullptr, "Cifragem de dados"},
    {4, nullptr, "Acordo de chave"},
    {5, nullptr, "Assinatura de certificado"},
    {6, nullptr, "Assinatura de LCR"},
    {7, nullptr, "Somente cifragem"},
    {8, nullptr, "Somente decifragem"},
    {-1, "2.5.29.37.0", "Qualquer uso estendido da chave"},
    {-1, "1.3.6.1.5.5.7.3.1", "Autenticação de servidor TLS"},
    {-1, "1.3.6.1.5.5.7.3.2", "Autenticação de cliente TLS"},
    {-1, "1.3.6.1.5.5.7.3.3", "Assinatura de código"},
    {-1, "1.3.6.1.5.5.7.3.4", "Proteção de e-mail"},
    {-1, "1.3.6.1.5.5.7.3.5", "Sistema final IPsec"},
    {-1, "1.3.6.1.5.5.7.3.6", "Túnel IPsec"},
    {-1, "1.3.6.1.5.5.7.3.7", "Usuário IPsec"},
    {-1, "1.3.6.1.5.5.7.3.8", "Carimbo do tempo"},
    {-1, "1.3.6.1.5.5.7.3.9", "Assinatura de OCSP"},
    {-1, "1.3.6.1.5.5.7.3.36", "Assinatura de documentos"},
    // Found in ICP-Brasil end-entity certificates, issued for other desktops.
    {-1, "1.3.6.1.4.1.311.20.2.2", "Logon com cartão inteligente"},
    {-1, "1.3.6.1.4.1.311.10.3.4", "Sistema de arquivos com criptografia"},
    {-1, "1.3.6.1.4.1.311.10.3.12", "Assinatura de documentos"},
    {-1, "1.2.840.113583.1.1.5", "Documentos autênticos (PDF)"},
}};

QString keyUsageBitName(int bit)
{
    for (const UsageName& usage : kUsageNames) {
        if (usage.bit == bit)
            return QString::fromUtf8(usage.name);
    }
    return QStringLiteral("bit %1").arg(bit);
}

QString extendedKeyUsageName(const QString& oid)
{
    for (const UsageName& usage : kUsageNames) {
        if (usage.oid != nullptr && oid == QLatin1String(usage.oid))
            return QString::fromUtf8(usage.name);
    }
    return oid;
}

// Null with the extension absent; an extension that does not decode gives
// nothing to name either.
template <typename Decoded> Decoded decodedExtension(const Certificate& certificate, int nid)
{
    if (certificate.isNull())
        return {};
    return Decoded(static_cast<typename Decoded::pointer>(
        X509_get_ext_d2i(certificate.handle(), nid, nullptr, nullptr)));
}

// A keyUsage or extendedKeyUsage extension, one name a line; empty for any
// other extension or one that does not decode.
QString usageText(const Certificate& certificate, X509_EXTENSION* extension)
{
    switch (OBJ_obj2nid(X509_EXTENSION_get_object(extension))) {
    case NID_key_usage:
        return keyUsageNames(certificate).join(QLatin1Char('\n'));
    case NID_ext_key_usage:
        return extendedKeyUsageNames(certificate).join(QLatin1Char('\n'));
    default:
        return {};
    }
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
    QString text = usageText(certificate, extension);
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

QStringList keyUsageNames(const Certificate& certificate)
{
    const ossl::ErrorQueueGuard guard;
    const auto bits = decodedExtension<ossl::UniqueAsn1BitString>(certificate, NID_key_usage);
    QStringList names;
    if (!bits)
        return names;
    const int count = ASN1_STRING_length(bits.get()) * 8;
    for (int bit = 0; bit < count; ++bit) {
        if (ASN1_BIT_STRING_get_bit(bits.get(), bit) == 1)
            names << keyUsageBitName(bit);
    }
    return names;
}

QStringList extendedKeyUsageNames(const Certificate& certificate)
{
    const ossl::ErrorQueueGuard guard;
    const auto usages =
        decodedExtension<ossl::UniqueExtendedKeyUsage>(certificate, NID_ext_key_usage);
    QStringList names;
    if (!usages)
        return names;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()); ++i)
        names << extendedKeyUsageName(dottedOid(sk_ASN1_OBJECT_value(usages.get(), i)));
    return names;
}

QStringList certificatePurposes(const Certificate& certificate)
{
    if (certificate.isNull())
        return {};
    QStringList purposes = extendedKeyUsageNames(certificate);
    if (purposes.isEmpty())
        purposes = keyUsageNames(certificate);
    if (purposes.isEmpty())
        purposes << QStringLiteral("Todas as finalidades (o certificado não as restringe)");
    return purposes;
}

} // namespace selavia::signature
