#pragma once

// Which lists of accepted policies a document's signers are judged with:
// the bundled ones, unless one of them has passed its nextUpdate and ITI's
// current list, verified, says more recently what holds.

#include "platform/signature/SignaturePolicies.h"
#include "platform/signature/SignedData.h"
#include "verify/LoadOptions.h"

#include <QDateTime>
#include <optional>

namespace selavia::verify {

// A catalogue with each stale bundled list replaced by the current one when
// a signer of `data` names an ICP-Brasil policy and that list verifies and
// is newer; nullopt when the bundled catalogue stands. Offline only the
// cache is read.
std::optional<signature::policies::PolicyCatalogue>
currentPolicyCatalogue(const signature::SignedData& data, const LoadOptions& options,
                       const QDateTime& checkedAt);

} // namespace selavia::verify
