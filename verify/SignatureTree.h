#pragma once

// The tree of signers and certificates (`tvSigns`) as the document window
// shows it, built from what the verification found.

#include "verify/ValidationResult.h"

#include <QStringList>
#include <optional>
#include <vector>

namespace selavia::verify {

// The nodes of the tree for these signers, in display order; for a signed
// PDF, each signature also tells its revision, what it covers and what
// changed after it, and each document time-stamp has a node of its own.
std::vector<TreeNode> buildTree(const std::vector<SignatureResult>& signers,
                                const std::optional<PdfResult>& pdf = std::nullopt);

// "Revisão 2 de 3 - cobre o documento inteiro", for a PDF's signature.
QString revisionText(const PdfSignatureResult& signature, int revisions);
// The changes after a PDF's signature, one line for the allowed ones and
// one for each that is not: "Alterações posteriores permitidas: …".
QStringList changeLines(const PdfSignatureResult& signature);

} // namespace selavia::verify
