#pragma once

#include "CertificateRole.h"
#include "Revocation.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

typedef struct x509_st X509;

namespace selavia::signature {

class ValidationContext;
struct CertificateStatus;

// What `GetInfo` may be asked for.
enum class CertificateInfo { SubjectSimpleName = 0, SubjectEmail = 2 };

// Names the services give to extension OIDs; only the subject alternative
// name is looked for by the program.
enum class OidName { Other = 0, SubjectAltName = 12 };

struct Extension {
    QString oid; // dotted form, e.g. "2.5.29.17"
    OidName name = OidName::Other;
    bool critical = false;
    QByteArray value; // the extension value's DER (for 2.5.29.17 the GeneralNames sequence)

    // `EncodedData` with encoding 0: the value as Base64 text.
    QString encodedBase64() const { return QString::fromLatin1(value.toBase64()); }
};

// One X.509 certificate of a verified message, a chain or a trust store.
// Cheap to copy (shared handle). It knows the context it came from (trust
// store, the message's certificates and CRLs) so that it can judge itself.
class Certificate {
public:
    Certificate() = default;
    // Takes a reference of its own on `certificate`.
    Certificate(X509* certificate, std::shared_ptr<const ValidationContext> context);

    bool isNull() const { return !x509_; }

    // Throws SignatureError when the value cannot be read.
    QString getInfo(CertificateInfo info) const;
    QString subjectName() const; // one line, RFC 2253 order, UTF-8
    QString issuerName() const;
    int version() const;             // 3 for X.509 v3
    QString serialNumber() const;    // uppercase hex, most significant byte first
    QString thumbprint() const;      // uppercase hex SHA-1 of the DER
    QDateTime validFromDate() const; // UTC
    QDateTime validToDate() const;   // UTC
    std::vector<Extension> extensions() const;
    QByteArray der() const;

    // Validity under default checks: builds to a trusted root, every
    // certificate of the chain is within its period now and meant for its
    // role, and none is revoked. `role` Any judges an authority as an
    // issuer and any other certificate as a signer's; Signer judges it as a
    // signer's whatever it is. Never throws: a status that cannot be worked
    // out is not valid.
    CertificateStatus isValid(CertificateRole role) const;
    CertificateStatus isValid() const;
    // The same at `at` (UTC; a time-stamp's time): every certificate of the
    // chain within its period then, and none revoked at or before it; one
    // revoked later still counts as valid then.
    CertificateStatus isValidAt(CertificateRole role, const QDateTime& at) const;

    // For the platform layer only.
    X509* handle() const { return x509_.get(); }
    const std::shared_ptr<const ValidationContext>& context() const { return context_; }

    friend bool operator==(const Certificate& a, const Certificate& b);

private:
    // The handle, or SignatureError(kCertificateUnreadable) for a null certificate.
    X509* checkedHandle() const;
    // Validity at `at`; an invalid `at` is now.
    CertificateStatus statusAt(CertificateRole role, const QDateTime& at) const;

    std::shared_ptr<X509> x509_;
    std::shared_ptr<const ValidationContext> context_;
};

// One certificate of the chain a status was worked out on.
struct ChainLinkStatus {
    Certificate certificate;
    RevocationStatus revocation;
    QStringList problems; // Portuguese, one line each, without the certificate's name
};

// `IsValid().Result`, with every problem found on the way for reports.
struct CertificateStatus {
    bool result = false;
    QStringList problems; // Portuguese, one line each; empty when valid
    // The chain reached a trusted root, every certificate of it signed by
    // the next and allowed to issue: its dates and revocation aside.
    bool chainTrusted = false;
    // The certificate's key usages allow signing documents; only a status
    // worked out for a signer's role can say no.
    bool meantForSignatures = true;
    RevocationStatus revocation;        // of the certificate itself
    std::vector<ChainLinkStatus> chain; // the certificate first, towards the root
};

// Find types of a certificate collection.
enum class FindType { SubjectName = 1 };

// An ordered collection of certificates (`Certificates`).
class CertificateCollection {
public:
    CertificateCollection() = default;
    explicit CertificateCollection(std::vector<Certificate> items) : items_(std::move(items)) {}

    int count() const { return static_cast<int>(items_.size()); }
    const Certificate& item(int index) const { return items_.at(static_cast<size_t>(index)); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    // The certificates whose subject name contains `criterion`, compared
    // without regard to case. `validOnly` keeps only those that are valid.
    CertificateCollection find(FindType type, const QString& criterion, bool validOnly) const;

private:
    std::vector<Certificate> items_;
};

namespace detail {
// `GetInfo` 0 of a raw certificate; empty when it has no usable name.
QString simpleName(X509* certificate);
} // namespace detail

} // namespace selavia::signature
