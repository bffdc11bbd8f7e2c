#include "Revocation.h"

#include "OpenSslHandles.h"
#include "TextDecoding.h"
#include "fileinfo/FileHandler.h"

#include <array>
#include <openssl/err.h>

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

QString okDetail(RevocationSource source)
{
    switch (source) {
    case RevocationSource::Message:
        return QStringLiteral("não consta da lista de certificados revogados contida no arquivo");
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
    }
    return scope;
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
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    trusted = trusted && key != nullptr && X509_CRL_verify(crl, key) == 1;
    trusted = trusted && compareTime(X509_CRL_get0_lastUpdate(crl), now) < 0;
    trusted = trusted && !hasUnknownCriticalExtension(crl);
    // Delta lists and lists of other issuers' certificates need the base
    // list or the entries' issuers, which we do not follow.
    trusted = trusted && X509_CRL_get_ext_by_NID(crl, NID_delta_crl, -1) < 0;
    if (trusted) {
        ossl::UniqueIssuingDistPoint point = distributionPoint(crl);
        trusted = !point || (!point->indirectCRL && point->onlysomereasons == nullptr);
    }
    return trusted;
}

std::optional<CrlAnswer> crlAnswerFor(X509_CRL* crl, X509* certificate, const QDateTime& now)
{
    const ossl::ErrorQueueGuard guard;
    if (X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_issuer_name(certificate)) != 0)
        return std::nullopt;
    if (!scopeCovers(crlScope(crl), certificate))
        return std::nullopt;
    CrlAnswer answer;
    const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
    answer.current = next == nullptr || compareTime(next, now) > 0;
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
    if (answer.listed) {
        status.state = RevocationState::Revoked;
        status.revokedAt = answer.revokedAt;
        status.reason = answer.reason;
        status.detail = revocationText(status);
        return status;
    }
    if (!answer.current)
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
        text += QStringLiteral(" em ") + fileinfo::UtcDateText(status.revokedAt);
    const QString reason = revocationReasonText(status.reason);
    if (!reason.isEmpty())
        text += QStringLiteral(" (motivo: ") + reason + QLatin1Char(')');
    return text;
}

QString revocationSourceText(RevocationSource source)
{
    switch (source) {
    case RevocationSource::Message:
        return QStringLiteral("lista de certificados revogados contida no arquivo");
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

MessageCrls::MessageCrls(const std::vector<X509_CRL*>& crls)
{
    for (X509_CRL* crl : crls) {
        if (ossl::UniqueX509Crl own = ossl::upRef(crl))
            crls_.push_back(ossl::shared(std::move(own)));
    }
}

MessageCrls::~MessageCrls() = default;

std::optional<RevocationStatus> MessageCrls::check(X509* certificate, X509* issuer)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::optional<RevocationStatus> good;
    for (const auto& crl : crls_) {
        if (!crlIssuedBy(crl.get(), issuer, now))
            continue;
        std::optional<CrlAnswer> answer = crlAnswerFor(crl.get(), certificate, now);
        std::optional<RevocationStatus> status =
            answer ? statusFromCrl(*answer, RevocationSource::Message) : std::nullopt;
        if (status && status->revoked())
            return status;
        if (status)
            good = status;
    }
    return good;
}

} // namespace selavia::signature
