#pragma once

// Whether a certificate was revoked, and who said so. Answers come from
// sources asked in order (the CRLs a message carries first); the first that
// answers decides, and a source whose data does not verify never answers.

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

typedef struct x509_st X509;
typedef struct X509_crl_st X509_CRL;

namespace selavia::signature {

enum class RevocationState { Good, Revoked, Unknown };
enum class RevocationSource { None, Message, Cache, Download, Ocsp };

struct RevocationStatus {
    RevocationState state = RevocationState::Unknown;
    RevocationSource source = RevocationSource::None;
    QDateTime revokedAt; // UTC; set when revoked
    int reason = -1;     // the CRL reason code; -1 when none was given
    QString detail;      // one Portuguese line

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
    // Not past its nextUpdate: only then does "not listed" mean "good".
    bool current = false;
};

// Which certificates a list speaks of (its issuing distribution point).
struct CrlScope {
    bool onlyUsers = false;
    bool onlyAuthorities = false;
    bool onlyAttributes = false;
};
CrlScope crlScope(X509_CRL* crl);
bool scopeCovers(const CrlScope& scope, X509* certificate);

// Whether `issuer` may sign lists: cRLSign where keyUsage is present.
bool issuerMaySignCrls(X509* issuer);

// Whether `crl` can be trusted as `issuer`'s word at `now`: named and signed
// by `issuer`, which may sign CRLs (cRLSign where keyUsage is present),
// issued no later than `now`, without a critical extension we do not
// understand, and not a delta or indirect CRL.
bool crlIssuedBy(X509_CRL* crl, X509* issuer, const QDateTime& now);

// What `crl`, already found trustworthy for `issuer`, says of
// `certificate`; nullopt when its scope leaves the certificate out.
std::optional<CrlAnswer> crlAnswerFor(X509_CRL* crl, X509* certificate, const QDateTime& now);

// The status a CRL answer gives; nullopt when a stale list does not list
// the certificate (a verified list that lists it revokes, stale or not).
std::optional<RevocationStatus> statusFromCrl(const CrlAnswer& answer, RevocationSource source);

// The Portuguese name of a CRL reason code ("comprometimento da chave").
QString revocationReasonText(int reason);

// "revogado em 05/12/2026 14:03:00 UTC (motivo: ...)": the revocation as a
// problem line tells it.
QString revocationText(const RevocationStatus& status);

// Where an answer came from, in words: "lista contida no arquivo", "OCSP", …
QString revocationSourceText(RevocationSource source);

// The status as one line for people: "Não revogado: ...", "Revogado em
// ...", "Desconhecida: ...". The certificate dialog and the text report show it.
QString revocationSummary(const RevocationStatus& status);

// The CRLs carried by the signed message.
class MessageCrls : public RevocationProvider {
public:
    // Takes a reference of its own on each CRL.
    explicit MessageCrls(const std::vector<X509_CRL*>& crls);
    ~MessageCrls() override;
    std::optional<RevocationStatus> check(X509* certificate, X509* issuer) override;

private:
    std::vector<std::shared_ptr<X509_CRL>> crls_;
};

} // namespace selavia::signature
