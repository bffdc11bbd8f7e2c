#pragma once

// What the certificate dialog shows of a certificate, as text. The windows
// cannot read X.509 structures themselves (they never see OpenSSL), so every
// field is worked out here.

#include "Certificate.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace selavia::signature {

// One line of the details list: a field's name and its whole value, which
// may span several lines (extensions).
struct CertificateField {
    QString name;
    QString value;
};

// How the caller writes a moment; the windows use the user's locale.
using DateTextFunction = std::function<QString(const QDateTime&)>;

// Every field in the order certificate viewers list them: version, serial
// number, signature algorithm, issuer, validity, subject, public key, each
// extension in certificate order ("(crítica)" after the name of a critical
// one), and the SHA-1 thumbprint last. Throws SignatureError when the
// certificate cannot be read.
std::vector<CertificateField> detailFields(const Certificate& certificate,
                                           const DateTextFunction& dateText);

// The issuer's simple name, chosen as for the subject: CN, else OU, O, e-mail.
QString issuerSimpleName(const Certificate& certificate);

// The key's algorithm and size: "RSA (2048 bits)", "EC (P-256)", "Ed25519".
QString publicKeyDescription(const Certificate& certificate);

// OpenSSL's long name of the signature algorithm, e.g. "sha256WithRSAEncryption";
// the dotted OID when it has none.
QString signatureAlgorithmName(const Certificate& certificate);

// The display name of an extension: Portuguese for the usual ones, else
// OpenSSL's long name, else the dotted OID.
QString extensionName(const QString& oid);

// The value of the certificate's extension number `index` (the order of
// Certificate::extensions()) as `openssl x509 -text` prints it, one item a
// line; a hex dump when OpenSSL cannot decode it. Empty for a bad index.
QString extensionText(const Certificate& certificate, int index);

// The key usages the certificate's keyUsage extension sets, in bit order, by
// their Portuguese names ("Assinatura digital", "Não repúdio"); empty
// without the extension.
QStringList keyUsageNames(const Certificate& certificate);

// The extended key usages of the certificate, in its order, by their
// Portuguese names ("Autenticação de cliente TLS"); an usage without a name
// here by its dotted OID. Empty without the extension.
QStringList extendedKeyUsageNames(const Certificate& certificate);

// What the certificate may be used for: its extended key usages, else its
// key usages; one entry saying it is unrestricted when it has neither.
QStringList certificatePurposes(const Certificate& certificate);

} // namespace selavia::signature
