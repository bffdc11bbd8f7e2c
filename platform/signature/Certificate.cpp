#include "Certificate.h"

#include "OpenSslHandles.h"
#include "SignatureError.h"
#include "TextDecoding.h"
#include "ValidationContext.h"

#include <array>
#include <openssl/err.h>

namespace selavia::signature {
namespace {

QString firstEntry(const X509_NAME* name, int nid)
{
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return {};
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, index);
    return entry != nullptr ? text::toQString(X509_NAME_ENTRY_get_data(entry)) : QString();
}

QString nameText(const X509_NAME* name)
{
    // Most specific first, values unescaped, so that a search by subject
    // name sees the names as people write them.
    constexpr unsigned long flags = XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | XN_FLAG_DN_REV |
                                    ASN1_STRFLGS_UTF8_CONVERT | ASN1_STRFLGS_DUMP_UNKNOWN |
                                    ASN1_STRFLGS_DUMP_DER;
    ossl::UniqueBio bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, flags) < 0)
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return QString::fromUtf8(data, length);
}

QString hexText(const unsigned char* data, int length)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(data), length).toHex())
        .toUpper();
}

QString firstSanEmail(X509* certificate)
{
    ossl::UniqueGeneralNames names(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
    if (!names)
        return {};
    for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_EMAIL)
            return text::toQString(name->d.rfc822Name);
    }
    return {};
}

} // namespace

namespace detail {
QString simpleName(X509* certificate)
{
    const X509_NAME* subject = X509_get_subject_name(certificate);
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                    NID_pkcs9_emailAddress}) {
        QString value = firstEntry(subject, nid);
        if (!value.isEmpty())
            return value;
    }
    return {};
}
} // namespace detail

Certificate::Certificate(X509* certificate, std::shared_ptr<const ValidationContext> context)
    : context_(std::move(context))
{
    ossl::UniqueX509 own = ossl::upRef(certificate);
    if (!own)
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
    x509_ = std::shared_ptr<X509>(own.release(), ossl::Deleter<X509_free>());
}

X509* Certificate::checkedHandle() const
{
    if (isNull())
        throw SignatureError::of(code::kCertificateUnreadable);
    return x509_.get();
}

QString Certificate::getInfo(CertificateInfo info) const
{
    const ossl::ErrorQueueGuard guard;
    X509* certificate = checkedHandle();
    switch (info) {
    case CertificateInfo::SubjectSimpleName:
        return detail::simpleName(certificate);
    case CertificateInfo::SubjectEmail: {
        QString email = firstSanEmail(certificate);
        return email.isEmpty()
                   ? firstEntry(X509_get_subject_name(certificate), NID_pkcs9_emailAddress)
                   : email;
    }
    }
    return {};
}

QString Certificate::subjectName() const
{
    return nameText(X509_get_subject_name(checkedHandle()));
}
QString Certificate::issuerName() const
{
    return nameText(X509_get_issuer_name(checkedHandle()));
}

int Certificate::version() const
{
    return static_cast<int>(X509_get_version(checkedHandle())) + 1;
}

QString Certificate::serialNumber() const
{
    const ASN1_INTEGER* serial = X509_get0_serialNumber(checkedHandle());
    if (serial == nullptr)
        throw SignatureError::of(code::kCertificateUnreadable);
    if (ASN1_STRING_length(serial) == 0)
        return QStringLiteral("00");
    QString hex = hexText(ASN1_STRING_get0_data(serial), ASN1_STRING_length(serial));
    return ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER ? QLatin1Char('-') + hex : hex;
}

QString Certificate::thumbprint() const
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(checkedHandle(), EVP_sha1(), digest.data(), &length) != 1)
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
    return hexText(digest.data(), static_cast<int>(length));
}

QDateTime Certificate::validFromDate() const
{
    QDateTime moment = text::decodeTime(X509_get0_notBefore(checkedHandle()));
    if (!moment.isValid())
        throw SignatureError::of(code::kCertificateUnreadable);
    return moment;
}

QDateTime Certificate::validToDate() const
{
    QDateTime moment = text::decodeTime(X509_get0_notAfter(checkedHandle()));
    if (!moment.isValid())
        throw SignatureError::of(code::kCertificateUnreadable);
    return moment;
}

std::vector<Extension> Certificate::extensions() const
{
    std::vector<Extension> result;
    for (int i = 0; i < X509_get_ext_count(checkedHandle()); ++i) {
        X509_EXTENSION* raw = X509_get_ext(checkedHandle(), i);
        std::array<char, 128> oid{};
        OBJ_obj2txt(oid.data(), oid.size(), X509_EXTENSION_get_object(raw), 1);
        const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(raw);
        Extension extension;
        extension.oid = QString::fromLatin1(oid.data());
        extension.name =
            extension.oid == QLatin1String("2.5.29.17") ? OidName::SubjectAltName : OidName::Other;
        extension.critical = X509_EXTENSION_get_critical(raw) != 0;
        extension.value = QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                                     ASN1_STRING_length(data));
        result.push_back(std::move(extension));
    }
    return result;
}

QByteArray Certificate::der() const
{
    QByteArray result = ossl::encoded(i2d_X509, checkedHandle());
    if (result.isEmpty())
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
    return result;
}

Certificate Certificate::fromDer(const QByteArray& der)
{
    const ossl::ErrorQueueGuard guard;
    const auto* data = reinterpret_cast<const unsigned char*>(der.constData());
    ossl::UniqueX509 certificate(d2i_X509(nullptr, &data, der.size()));
    if (!certificate)
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
    return Certificate(certificate.get(), nullptr);
}

CertificatePath Certificate::path(CertificateRole role, const QDateTime& at) const
{
    CertificatePath path;
    if (isNull() || !context_) {
        path.problems << QStringLiteral("certificado sem contexto de validação");
        return path;
    }
    try {
        ValidationContext::PathFacts facts = context_->path(handle(), role, at);
        path.trusted = facts.trusted;
        path.chainTrusted = facts.chainTrusted;
        path.meantForSignatures = facts.meantForSignatures;
        path.framework = facts.framework;
        for (ValidationContext::Link& link : facts.chain)
            path.chain.push_back({Certificate(link.certificate.get(), context_),
                                  std::move(link.revocation), std::move(link.problems)});
        if (!facts.built)
            path.problems << QStringLiteral("não foi possível validar o certificado");
    } catch (const SignatureError& error) {
        path.problems << error.description();
    }
    return path;
}

bool operator==(const Certificate& a, const Certificate& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    return X509_cmp(a.handle(), b.handle()) == 0;
}

namespace {

bool faultlessPath(const Certificate& certificate)
{
    const CertificatePath path = certificate.path(CertificateRole::Any);
    if (!path.chainTrusted || !path.problems.isEmpty())
        return false;
    for (const PathLink& link : path.chain) {
        if (!link.problems.isEmpty())
            return false;
    }
    return true;
}

} // namespace

CertificateCollection CertificateCollection::find(FindType type, const QString& criterion,
                                                  bool trustedOnly) const
{
    std::vector<Certificate> matches;
    for (const Certificate& certificate : items_) {
        bool matched = type == FindType::SubjectName &&
                       certificate.subjectName().contains(criterion, Qt::CaseInsensitive);
        if (matched && (!trustedOnly || faultlessPath(certificate)))
            matches.push_back(certificate);
    }
    return CertificateCollection(std::move(matches));
}

} // namespace selavia::signature
