#include "Revocation.h"

#include "OpenSslHandles.h"
#include "SignatureMemo.h"
#include "TextDecoding.h"
#include "fileinfo/FileHandler.h"

#include <array>
#include <openssl/err.h>
#include <set>

namespace selavia::signature {
namespace {

bool knownCrlExtension(int nid)
{
    return nid == NID_crl_number || nid == NID_authority_key_identifier ||
           nid == NID_issuing_distribution_point;
}

bool knownEntryExtension(int nid)
{
    return nid == NID_crl_reason || nid == NID_invalidity_date || nid == NID_hold_instruction_code;
}

// A critical extension we cannot honour makes the whole list unusable.
bool hasUnknownCriticalExtension(X509_CRL* crl)
{
    for (int i = 0; i < X509_CRL_get_ext_count(crl); ++i) {
        X509_EXTENSION* extension = X509_CRL_get_ext(crl, i);
        if (X509_EXTENSION_get_critical(extension) &&
            !knownCrlExtension(OBJ_obj2nid(X509_EXTENSION_get_object(extension))))
            return true;
    }
    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl);
    for (int e = 0; e < sk_X509_REVOKED_num(entries); ++e) {
        const X509_REVOKED* entry = sk_X509_REVOKED_value(entries, e);
        for (int i = 0; i < X509_REVOKED_get_ext_count(entry); ++i) {
            X509_EXTENSION* extension = X509_REVOKED_get_ext(entry, i);
            if (X509_EXTENSION_get_critical(extension) &&
                !knownEntryExtension(OBJ_obj2nid(X509_EXTENSION_get_object(extension))))
                return true;
        }
    }
    return false;
}

ossl::UniqueIssuingDistPoint distributionPoint(X509_CRL* crl)
{
    return ossl::UniqueIssuingDistPoint(static_cast<ISSUING_DIST_POINT*>(
        X509_CRL_get_ext_d2i(crl, NID_issuing_distribution_point, nullptr, nullptr)));
}

std::time_t secondsOf(const QDateTime& moment)
{
    return static_cast<std::time_t>(moment.toSecsSinceEpoch());
}

// -1 when `time` lies before `moment`, 1 after, 0 when it cannot be read.
int compareTime(const ASN1_TIME* time, const QDateTime& moment)
{
    std::time_t seconds = secondsOf(moment);
    return time != nullptr ? X509_cmp_time(time, &seconds) : 0;
}

int reasonOf(const X509_REVOKED* entry)
{
    ossl::UniqueAsn1Enumerated reason(static_cast<ASN1_ENUMERATED*>(
        X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
    return reason ? static_cast<int>(ASN1_ENUMERATED_get(reason.get())) : -1;
}

// Without a nextUpdate, evidence counts as current this long after it was
// issued: as long as an answer of a responder that gives none.
constexpr qint64 kMaxAgeWithoutNext = 86400;
// Distribution point names compared per list and per certificate.
constexpr int kMaxPointNames = 16;

QString okDetail(RevocationSource source)
{
    switch (source) {
    case RevocationSource::Message:
        return QStringLiteral("confirmado pela informação de revogação contida na assinatura");
    case RevocationSource::Document:
        return QStringLiteral("confirmado pela informação de revogação contida no documento (DSS)");
    case RevocationSource::Cache:
        return QStringLiteral("não consta da lista de certificados revogados (cópia local)");
    case RevocationSource::Download:
        return QStringLiteral("não consta da lista de certificados revogados obtida da "
                              "autoridade certificadora");
    case RevocationSource::Ocsp:
        return QStringLiteral("confirmado pelo serviço de consulta OCSP da autoridade "
                              "certificadora");
    case RevocationSource::None:
        break;
    }
    return QStringLiteral("não foi possível consultar a situação de revogação");
}

} // namespace

CrlScope crlScope(X509_CRL* crl)
{
    const ossl::ErrorQueueGuard guard;
    CrlScope scope;
    if (ossl::UniqueIssuingDistPoint point = distributionPoint(crl)) {
        scope.onlyUsers = point->onlyuser != 0;
        scope.onlyAuthorities = point->onlyCA != 0;
        scope.onlyAttributes = point->onlyattr != 0;
        scope.someReasons = point->onlysomereasons != nullptr;
        scope.partitioned = point->distpoint != nullptr;
    }
    return scope;
}

namespace {

// The names of a distribution point, each as DER, to compare: its full
// names, or its name relative to `issuer` made whole.
void addPointNames(DIST_POINT_NAME* point, const X509_NAME* issuer, std::set<QByteArray>& names)
{
    if (point == nullptr)
        return;
    if (point->type == 0) {
        const GENERAL_NAMES* full = point->name.fullname;
        for (int i = 0; i < sk_GENERAL_NAME_num(full) && i < kMaxPointNames; ++i)
            names.insert(ossl::encoded(i2d_GENERAL_NAME, sk_GENERAL_NAME_value(full, i)));
    } else if (DIST_POINT_set_dpname(point, issuer) == 1 && point->dpname != nullptr) {
        names.insert(QByteArray("dn:") + ossl::encoded(i2d_X509_NAME, point->dpname));
    }
}

} // namespace

bool partitionCovers(X509_CRL* crl, X509* certificate)
{
    const ossl::ErrorQueueGuard guard;
    ossl::UniqueIssuingDistPoint point = distributionPoint(crl);
    if (!point || point->distpoint == nullptr)
        return true;
    std::set<QByteArray> listNames;
    addPointNames(point->distpoint, X509_CRL_get_issuer(crl), listNames);
    ossl::UniqueDistributionPoints points(static_cast<CRL_DIST_POINTS*>(
        X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr)));
    std::set<QByteArray> certificateNames;
    for (int i = 0; points && i < sk_DIST_POINT_num(points.get()) && i < kMaxPointNames; ++i)
        addPointNames(sk_DIST_POINT_value(points.get(), i)->distpoint,
                      X509_get_issuer_name(certificate), certificateNames);
    if (certificateNames.empty())
        return true;
    for (const QByteArray& name : listNames) {
        if (!name.isEmpty() && certificateNames.count(name) != 0)
            return true;
    }
    return false;
}

bool partitionNamesUri(X509_CRL* crl, QByteArrayView uri)
{
    const ossl::ErrorQueueGuard guard;
    ossl::UniqueIssuingDistPoint point = distributionPoint(crl);
    if (!point || point->distpoint == nullptr)
        return false;
    std::set<QByteArray> listNames;
    addPointNames(point->distpoint, X509_CRL_get_issuer(crl), listNames);
    ossl::UniqueGeneralName name(GENERAL_NAME_new());
    ASN1_IA5STRING* text = name ? ASN1_IA5STRING_new() : nullptr;
    if (text == nullptr)
        return false;
    GENERAL_NAME_set0_value(name.get(), GEN_URI, text); // the name owns it now
    if (ASN1_STRING_set(text, uri.data(), static_cast<int>(uri.size())) != 1)
        return false;
    const QByteArray encoded = ossl::encoded(i2d_GENERAL_NAME, name.get());
    return !encoded.isEmpty() && listNames.count(encoded) != 0;
}

bool revocationCurrent(const RevocationStatus& status, const QDateTime& now)
{
    if (!status.thisUpdate.isValid() || status.thisUpdate > now)
        return false;
    if (status.nextUpdate.isValid())
        return now < status.nextUpdate;
    return status.thisUpdate.secsTo(now) < kMaxAgeWithoutNext;
}

bool scopeCovers(const CrlScope& scope, X509* certificate)
{
    const bool authority = X509_check_ca(certificate) != 0;
    return !scope.onlyAttributes && !(scope.onlyUsers && authority) &&
           !(scope.onlyAuthorities && !authority);
}

bool issuerMaySignCrls(X509* issuer)
{
    return (X509_get_extension_flags(issuer) & EXFLAG_KUSAGE) == 0 ||
           (X509_get_key_usage(issuer) & KU_CRL_SIGN) != 0;
}

bool crlIssuedBy(X509_CRL* crl, X509* issuer, const QDateTime& now)
{
    const ossl::ErrorQueueGuard guard;
    if (crl == nullptr || issuer == nullptr)
        return false;
    bool trusted = X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_subject_name(issuer)) == 0;
    trusted = trusted && issuerMaySignCrls(issuer);
    trusted = trusted && signatures::crlSignedBy(crl, issuer);
    trusted = trusted && compareTime(X509_CRL_get0_lastUpdate(crl), now) < 0;
    trusted = trusted && !hasUnknownCriticalExtension(crl);
    // Delta lists and lists of other issuers' certificates need the base
    // list or the entries' issuers, which we do not follow.
    trusted = trusted && X509_CRL_get_ext_by_NID(crl, NID_delta_crl, -1) < 0;
    if (trusted) {
        ossl::UniqueIssuingDistPoint point = distributionPoint(crl);
        trusted = !point || !point->indirectCRL;
    }
    return trusted;
}

std::optional<CrlAnswer> crlAnswerFor(X509_CRL* crl, X509* certificate, const QDateTime& now)
{
    const ossl::ErrorQueueGuard guard;
    if (X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_issuer_name(certificate)) != 0)
        return std::nullopt;
    const CrlScope scope = crlScope(crl);
    if (!scopeCovers(scope, certificate) || !partitionCovers(crl, certificate))
        return std::nullopt;
    CrlAnswer answer;
    const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
    answer.current = next == nullptr || compareTime(next, now) > 0;
    answer.thisUpdate = text::decodeTime(X509_CRL_get0_lastUpdate(crl));
    answer.nextUpdate = next != nullptr ? text::decodeTime(next) : QDateTime();
    answer.someReasons = scope.someReasons;
    X509_REVOKED* entry = nullptr;
    // 2: the entry takes the certificate off hold (removeFromCRL).
    if (X509_CRL_get0_by_cert(crl, &entry, certificate) == 1 && entry != nullptr) {
        answer.listed = true;
        answer.revokedAt = text::decodeTime(X509_REVOKED_get0_revocationDate(entry));
        answer.reason = reasonOf(entry);
    }
    return answer;
}

std::optional<RevocationStatus> statusFromCrl(const CrlAnswer& answer, RevocationSource source)
{
    RevocationStatus status;
    status.source = source;
    status.thisUpdate = answer.thisUpdate;
    status.nextUpdate = answer.nextUpdate;
    if (answer.listed) {
        status.state = RevocationState::Revoked;
        status.revokedAt = answer.revokedAt;
        status.reason = answer.reason;
        status.detail = revocationText(status);
        return status;
    }
    if (answer.someReasons)
        return std::nullopt;
    status.state = RevocationState::Good;
    status.detail = okDetail(source);
    return status;
}

QString revocationReasonText(int reason)
{
    switch (reason) {
    case 0:
        return QStringLiteral("não especificado");
    case 1:
        return QStringLiteral("comprometimento da chave");
    case 2:
        return QStringLiteral("comprometimento da autoridade certificadora");
    case 3:
        return QStringLiteral("mudança de vínculo");
    case 4:
        return QStringLiteral("substituído");
    case 5:
        return QStringLiteral("cessação de operação");
    case 6:
        return QStringLiteral("suspenso");
    case 9:
        return QStringLiteral("privilégio retirado");
    case 10:
        return QStringLiteral("comprometimento da autoridade de atributos");
    default:
        return {};
    }
}

QString revocationText(const RevocationStatus& status)
{
    QString text = QStringLiteral("revogado");
    if (status.revokedAt.isValid())
        text += QStringLiteral(" em ") + fileinfo::ZonedDateText(status.revokedAt);
    const QString reason = revocationReasonText(status.reason);
    if (!reason.isEmpty())
        text += QStringLiteral(" (motivo: ") + reason + QLatin1Char(')');
    return text;
}

QString revocationSourceText(RevocationSource source)
{
    switch (source) {
    case RevocationSource::Message:
        return QStringLiteral("contida na assinatura");
    case RevocationSource::Document:
        return QStringLiteral("contida no documento (DSS)");
    case RevocationSource::Cache:
        return QStringLiteral("lista de certificados revogados (cópia local)");
    case RevocationSource::Download:
        return QStringLiteral("lista de certificados revogados obtida da autoridade certificadora");
    case RevocationSource::Ocsp:
        return QStringLiteral("serviço OCSP da autoridade certificadora");
    case RevocationSource::None:
        break;
    }
    return QStringLiteral("nenhuma");
}

QString revocationSummary(const RevocationStatus& status)
{
    switch (status.state) {
    case RevocationState::Good:
        // An anchor is not "not revoked": nobody could have said so.
        if (status.trustAnchor)
            return QStringLiteral("Não se aplica: ") + status.detail;
        return QStringLiteral("Não revogado: ") + status.detail;
    case RevocationState::Revoked: {
        const QString text = revocationText(status);
        return text.left(1).toUpper() + text.mid(1);
    }
    case RevocationState::Unknown:
        break;
    }
    return QStringLiteral("Desconhecida: ") + status.detail;
}

const RevocationStatus& betterEvidence(const RevocationStatus& kept,
                                       const RevocationStatus& offered)
{
    if (kept.revoked() || offered.state == RevocationState::Unknown)
        return kept;
    if (offered.revoked() || kept.state == RevocationState::Unknown)
        return offered;
    return offered.thisUpdate > kept.thisUpdate ? offered : kept;
}

} // namespace selavia::signature
