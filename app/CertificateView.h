#pragma once

// What the certificate dialog is given for a node of the signature tree:
// the certificate and its path as the verification judged them, and what
// the signature says of a signer's own certificate.

#include "platform/desktop/SignerDetails.h"
#include "verify/ValidationResult.h"

#include <optional>

namespace selavia::app {

// The certificate of a chain node with its path up to the root; nothing
// for a node that holds no certificate.
std::optional<desktop::CertificateView> certificateViewOf(const verify::TreeNode& node,
                                                          const verify::ValidationResult& result);

// What the signature says of the signer whose own certificate `node` holds;
// nothing for any other node.
std::optional<desktop::SignerDetails> signerDetailsOf(const verify::TreeNode& node,
                                                      const verify::ValidationResult& result);

} // namespace selavia::app
