#pragma once

#include "CertificateRole.h"
#include "Revocation.h"
#include "TrustFramework.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

typedef struct x509_st X509;

namespace selavia::signature {

class ValidationContext;
struct CertificatePath;

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
// store, the message's certificates and CRLs) so that its path can be built.
class Certificate {
public:
    Certificate() = default;
    // Takes a reference of its own on `certificate`.
    Certificate(X509* certificate, std::shared_ptr<const ValidationContext> context);

    // A certificate read from its DER, for reading its fields; it has no
    // context, so no path. Throws SignatureError when it cannot be read.
    static Certificate fromDer(const QByteArray& der);

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

    // The path to a trusted root as far as it builds, worked out for `role`
    // at `at` (invalid: now): `role` Any takes an authority as an issuer and
    // any other certificate as a signer's; Signer takes it as a signer's
    // whatever it is. Facts only (see CertificatePath). Never throws.
    CertificatePath path(CertificateRole role, const QDateTime& at = {}) const;

    // For the platform layer only.
    X509* handle() const { return x509_.get(); }
    const std::shared_ptr<const ValidationContext>& context() const { return context_; }

    friend bool operator==(const Certificate& a, const Certificate& b);

private:
    // The handle, or SignatureError(kCertificateUnreadable) for a null certificate.
    X509* checkedHandle() const;

    std::shared_ptr<X509> x509_;
    std::shared_ptr<const ValidationContext> context_;
};

// One certificate of a path.
struct PathLink {
    Certificate certificate;
    RevocationStatus revocation; // what the sources said, to be judged at some time
    QStringList problems;        // of the path at this certificate, without its name
};

// A certificate's path to a trusted root, as facts: nothing here says
// whether the certificate is valid at any time.
struct CertificatePath {
    std::vector<PathLink> chain; // the certificate first, towards the root
    bool trusted = false;        // reached a trusted root, whatever else is wrong
    // Trusted, and every certificate of it signed by the next and allowed to
    // issue: its dates and revocation aside.
    bool chainTrusted = false;
    // The certificate's key usages allow signing documents; only a path
    // worked out for a signer's role can say no.
    bool meantForSignatures = true;
    // The framework of the anchor the path reached: None when it reached none.
    TrustFramework framework = TrustFramework::None;
    QStringList problems; // why no path could be worked out at all
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
    // without regard to case. `trustedOnly` keeps only those whose path
    // reaches a trusted root without fault (dates and revocation aside).
    CertificateCollection find(FindType type, const QString& criterion, bool trustedOnly) const;

private:
    std::vector<Certificate> items_;
};

} // namespace selavia::signature
