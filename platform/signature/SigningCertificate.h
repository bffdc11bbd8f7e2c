#pragma once

// The ESS binding of a signature to its certificate: the signed attribute
// signing-certificate (1.2.840.113549.1.9.16.2.12, SHA-1) or
// signing-certificate-v2 (1.2.840.113549.1.9.16.2.47, SHA-256 unless it
// says otherwise) names the certificate the signer meant. Without it anyone
// holding a certificate for the same key could pass it off as the signer's.

#include <QString>
#include <QStringList>

typedef struct x509_st X509;
typedef struct CMS_SignerInfo_st CMS_SignerInfo;

namespace selavia::signature {

enum class CertificateBinding {
    Absent,     // no signing-certificate attribute
    Matches,    // every such attribute names the certificate
    Mismatch,   // an attribute names another certificate
    Unreadable, // an attribute could not be read or its hash computed
};

struct SigningCertificateCheck {
    CertificateBinding binding = CertificateBinding::Absent;
    // The attribute that decided (dotted OID); empty when absent.
    QString attributeOid;
    // Portuguese, one line each; empty when absent or matching.
    QStringList problems;
    // What does not unbind the certificate but is not as it should be: an
    // issuer and serial that differ while the certificate's hash matches.
    QStringList warnings;
};

namespace detail {
// The signing-certificate attributes among the signed attributes of `info`
// against `certificate`: the first identifier of each must name it by its
// hash (issuer and serial, when given, that differ are only a warning). Further identifiers name
// issuers and are not required to be at hand. The problems say what was wrong with the attribute;
// what a mismatch means is the caller's to say.
SigningCertificateCheck essBinding(CMS_SignerInfo* info, X509* certificate);
} // namespace detail

} // namespace selavia::signature
