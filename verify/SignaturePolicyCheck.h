#pragma once

// A signature's declared ICP-Brasil policy (DOC-ICP-15.03), judged with
// ITI's list of accepted policies and the policy's own rules: the policy is
// listed, the signature was made in its period and before its revocation,
// the signature names the policy's true hash, and the policy's mandatory
// rules hold. The findings go to the verdict, which weighs them.

#include "platform/signature/SignaturePolicies.h"
#include "platform/signature/SignedData.h"
#include "verify/ValidationResult.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace selavia::verify {

// What the check looks at in a signer.
struct PolicyInputs {
    signature::SignaturePolicyIdentifier policy;
    QStringList signedAttributeOids;
    QStringList unsignedAttributeOids;
    QStringList emptyAttributeOids; // present, signed or not, with no value
    QString digestAlgorithmOid;
    QString keyAlgorithmOid;
    int keyBits = 0;
    bool counterSignatureDeclaresPolicy = false;
    QDateTime bestSignatureTime; // the time the dates are judged at
    QDateTime checkedAt;         // the time the list's freshness is judged at
};

// "AD-RT v2.3" for 2.16.76.1.7.1.2.2.3, "PAdES AD-RB v1.0" for
// 2.16.76.1.7.1.11.1; "" for an OID outside the arc or of a family not known.
QString policyName(const QString& oid);

PolicyCheck checkPolicy(const PolicyInputs& inputs,
                        const signature::policies::PolicyCatalogue& catalogue);
// With `catalogue`; nullopt when the signer declares no policy.
std::optional<PolicyCheck>
checkSignaturePolicy(const signature::Signer& signer, const QDateTime& bestSignatureTime,
                     const QDateTime& checkedAt,
                     const signature::policies::PolicyCatalogue& catalogue =
                         signature::policies::bundledCatalogue());

} // namespace selavia::verify
