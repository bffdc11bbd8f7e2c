#pragma once

// ICP-Brasil signature policies (DOC-ICP-15.03): the name of a policy OID
// under 2.16.76.1.7.1 and the attributes each CAdES level requires of a
// signer. The policy document's own hash is not checked: that needs ITI's
// policy file, which an offline reader does not have.

#include "platform/signature/SignedData.h"
#include "verify/ValidationResult.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace selavia::verify {

// What the check looks at in a signer.
struct PolicyInputs {
    signature::SignaturePolicyIdentifier policy;
    QStringList signedAttributeOids;
    QStringList unsignedAttributeOids;
    bool counterSignatureDeclaresPolicy = false;
};

// "AD-RT v2.3" for 2.16.76.1.7.1.2.2.3, "PAdES AD-RB v1.0" for
// 2.16.76.1.7.1.11.1; "" for an OID outside the arc or of a family not known.
QString policyName(const QString& oid);

PolicyCheck checkPolicy(const PolicyInputs& inputs);
// nullopt when the signer declares no policy.
std::optional<PolicyCheck> checkSignaturePolicy(const signature::Signer& signer);

} // namespace selavia::verify
