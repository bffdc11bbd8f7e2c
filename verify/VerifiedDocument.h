#pragma once

// Everything there is to say about one signed file, computed without any
// window: the verdict or the error class, the document's name, the signers
// and the tree as the document window shows it.

#include "fileinfo/FileHandler.h"
#include "platform/signature/SignedData.h"
#include "verify/CertificateClass.h"
#include "verify/SignatureTree.h"
#include "verify/VerificationError.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace selavia::verify {

struct VerifiedDocument {
    QString filePath;                       // `aFilePath`, as given
    std::optional<VerificationError> error; // set when verification failed
    // The verified message; holds the content for viewing and extraction.
    std::shared_ptr<signature::SignedData> signedData;
    std::vector<SignerEntry> signers;
    std::vector<TreeNode> tree;
    QString originalName;      // `OriginalName`
    bool hasExtension = false; // `HasExtension`
    bool signaturesOk = false; // `SignaturesOk`

    bool verified() const { return !error.has_value(); }
};

// Reads the file at `path`, verifies it against `trustStore`, and on success
// classifies every signer, builds the tree and decides the document's name
// (falling back to the signed file's base name when no signer names it).
// Large contents are hashed straight from the file; `progress` follows that.
VerifiedDocument
loadSignedDocument(const QString& path,
                   signature::TrustStore trustStore = signature::TrustStore::systemDefault(),
                   const signature::Progress& progress = {});
// The same from bytes already read; `path` names the signed file for the
// fallback name.
VerifiedDocument verifySignedBytes(const QString& path, QByteArrayView bytes,
                                   signature::TrustStore trustStore);

// Writes the original document, byte for byte, as the whole content of
// `path`, atomically; the failure, if any, comes back.
[[nodiscard]] std::optional<fileinfo::FileError>
writeOriginalDocument(const VerifiedDocument& document, const QString& path);

// Verifies `path` like loadSignedDocument and writes its original document
// to `target`. Where the content is a stretch of the file, the copy runs on
// another thread while the content is hashed, staged beside `target` and put
// in place only once the verification has succeeded; a failed verification
// leaves nothing. `writeFailure` gets the write's failure, if any.
VerifiedDocument loadAndWriteOriginal(const QString& path, signature::TrustStore trustStore,
                                      const QString& target,
                                      std::optional<fileinfo::FileError>& writeFailure);

} // namespace selavia::verify
