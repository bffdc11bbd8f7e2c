#pragma once

// Whether a certificate was revoked, who said so, and when the evidence was
// issued. Sources are asked in order (what the message carries first); a
// source whose data does not verify never answers. Whether an answer proves
// anything at a given time is for the judge: these are facts.

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

typedef struct x509_st X509;
typedef struct X509_crl_st X509_CRL;

namespace selavia::signature {

enum class RevocationState { Good, Revoked, Unknown };
// Document: a signed PDF's DSS dictionary.
enum class RevocationSource { None, Message, Cache, Download, Ocsp, Document };

struct RevocationStatus {
    RevocationState state = RevocationState::Unknown;
    RevocationSource source = RevocationSource::None;
    QDateTime revokedAt; // UTC; set when revoked
    int reason = -1;     // the CRL reason code; -1 when none was given
    QString detail;      // one Portuguese line
    // When the evidence was issued and when its issuer promised the next
    // (UTC; invalid when unknown). For OCSP those of the single response:
    // the time the status was known, not when the answer was signed.
    QDateTime thisUpdate;
    QDateTime nextUpdate;
    // A trusted root's: nothing above it could revoke it, so nothing was asked.
    bool trustAnchor = false;

    bool revoked() const { return state == RevocationState::Revoked; }
};

// One place revocation data comes from.
class RevocationProvider {
public:
    virtual ~RevocationProvider() = default;
    // What this source says of `certificate`, issued by `issuer`; nullopt
    // when it has nothing trustworthy to say.
    virtual std::optional<RevocationStatus> check(X509* certificate, X509* issuer) = 0;
    // Whether asking may reach the network: such sources are asked only
    // during the validation phase, never afterwards.
    virtual bool usesNetwork() const { return false; }
};
using RevocationProviders = std::vector<std::shared_ptr<RevocationProvider>>;

// What a CRL that can be trusted says about one certificate.
struct CrlAnswer {
    bool listed = false;
    QDateTime revokedAt; // UTC, when listed
    int reason = -1;
    // Not past its nextUpdate at the time asked.
    bool current = false;
    QDateTime thisUpdate; // UTC
    QDateTime nextUpdate; // UTC; invalid when the list gives none
    // The list covers only some reasons: not being listed proves nothing.
    bool someReasons = false;
};

// Which certificates a list speaks of (its issuing distribution point).
struct CrlScope {
    bool onlyUsers = false;
    bool onlyAuthorities = false;
    bool onlyAttributes = false;
    bool someReasons = false; // onlySomeReasons: it can revoke, never vouch
    bool partitioned = false; // names its distribution point: one partition
};
CrlScope crlScope(X509_CRL* crl);
// Whether a partitioned list names `uri` among its distribution point's full
// names: it then speaks for every certificate that points to it at `uri`.
bool partitionNamesUri(X509_CRL* crl, QByteArrayView uri);
bool scopeCovers(const CrlScope& scope, X509* certificate);
// Whether `crl`'s distribution point names one of `certificate`'s CRL
// distribution points, when both name any: a list of another partition
// says nothing of the certificate.
bool partitionCovers(X509_CRL* crl, X509* certificate);

// Whether `status` is current at `now`: issued by then and not past its
// nextUpdate (without one, for a day after it was issued).
bool revocationCurrent(const RevocationStatus& status, const QDateTime& now);

// Whether `issuer` may sign lists: cRLSign where keyUsage is present.
bool issuerMaySignCrls(X509* issuer);

// Whether `crl` can be trusted as `issuer`'s word at `now`: named and signed
// by `issuer`, which may sign CRLs (cRLSign where keyUsage is present),
// issued no later than `now`, without a critical extension we do not
// understand, and not a delta or indirect CRL. A list limited to some
// reasons is trusted for the revocations it lists.
bool crlIssuedBy(X509_CRL* crl, X509* issuer, const QDateTime& now);

// What `crl`, already found trustworthy for `issuer`, says of
// `certificate`; nullopt when its scope leaves the certificate out.
std::optional<CrlAnswer> crlAnswerFor(X509_CRL* crl, X509* certificate, const QDateTime& now);

// The status a CRL answer gives, with the list's dates; nullopt when a list
// of only some reasons does not list the certificate. A stale list that
// does not list it still answers "good" up to its own thisUpdate.
std::optional<RevocationStatus> statusFromCrl(const CrlAnswer& answer, RevocationSource source);

// The Portuguese name of a CRL reason code ("comprometimento da chave").
QString revocationReasonText(int reason);

// "revogado em 05/12/2026 11:03:00 -03:00 (motivo: ...)": the revocation as
// a problem line tells it, in local time that says which.
QString revocationText(const RevocationStatus& status);

// Where an answer came from, in words: "contida na assinatura", "OCSP", …
QString revocationSourceText(RevocationSource source);

// The status as one line for people: "Não revogado: ...", "Revogado em
// ...", "Desconhecida: ...". The certificate dialog and the text report show it.
QString revocationSummary(const RevocationStatus& status);

// Of two answers, the one to keep: a revocation over anything, else the
// "good" answer issued latest.
const RevocationStatus& betterEvidence(const RevocationStatus& kept,
                                       const RevocationStatus& offered);

} // namespace selavia::signature
