#pragma once

// The tree of signers and certificates (`tvSigns`) as the document window
// shows it, built from what the verification found.

#include "verify/ValidationResult.h"

#include <vector>

namespace selavia::verify {

// The nodes of the tree for these signers, in display order.
std::vector<TreeNode> buildTree(const std::vector<SignatureResult>& signers);

} // namespace selavia::verify
