#pragma once

// The version of a signed PDF that one of its signatures signed: which
// signature a node of the tree stands for, the name proposed for that
// version, and writing it out of the verified file.

#include "fileinfo/StagedFile.h"
#include "verify/ValidationResult.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace selavia::app {

// The PDF signature (or document time-stamp) whose branch of the tree holds
// `node`, when the version it signed is known; nothing otherwise.
const verify::PdfSignatureResult* signedVersionOf(const verify::TreeNode& node,
                                                  const verify::ValidationResult& result);

// "contrato-revisao-2.pdf": the document's name without its extension, and
// the revision the signature signed.
QString signedVersionName(const QString& documentName, int revision);

// Writes the first `length` bytes of `signedFile` to `target` through a
// staged file, put in place under `replace` only when the whole file still
// has the SHA-256 `sha256`; the failure, if any.
std::optional<fileinfo::FileError> writeSignedVersion(const QString& signedFile,
                                                      const QByteArray& sha256, qint64 length,
                                                      const QString& target,
                                                      fileinfo::Replace replace);

} // namespace selavia::app
