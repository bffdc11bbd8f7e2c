#pragma once

// The signed attribute signature-policy-identifier
// (1.2.840.113549.1.9.16.2.15): which policy the signer signed under. Read
// here; what the policy asks of the signature is decided in verify/.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

typedef struct CMS_SignerInfo_st CMS_SignerInfo;

namespace selavia::signature {

struct SignaturePolicyIdentifier {
    bool implied = false;     // signaturePolicyImplied: no explicit policy
    QString oid;              // dotted; empty when implied or unreadable
    QString hashAlgorithmOid; // of the policy document's hash
    QByteArray hash;          // sigPolicyHash: the policy document's hash
    QString uri;              // the SPuri qualifier, where the policy lives, if given
    QStringList problems;     // Portuguese; the attribute could not be read whole
};

namespace detail {
// nullopt when `info` has no such signed attribute.
std::optional<SignaturePolicyIdentifier> readSignaturePolicy(CMS_SignerInfo* info);
} // namespace detail

} // namespace selavia::signature
