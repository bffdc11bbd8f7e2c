#pragma once

// Everything there is to say about one signed file, computed without any
// window: the verdict or the error class, the document's name, the signers
// and the tree as the document window shows it.

#include "fileinfo/FileHandler.h"
#include "platform/signature/SignedData.h"
#include "verify/CertificateClass.h"
#include "verify/LoadOptions.h"
#include "verify/SignatureTree.h"
#include "verify/VerificationError.h"

#include <QDateTime>
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
    QDateTime checkedAt;       // UTC, when the certificates were judged
    bool offline = false;      // judged without any request to the network

    bool verified() const { return !error.has_value(); }
};

// Reads the file at `path`, verifies it against the options' trust store,
// runs the revocation phase (all chain certificates of all signers, checked
// concurrently) and on success classifies every signer, builds the tree and
// decides the document's name (falling back to the signed file's base name
// when no signer names it). Large contents are hashed straight from the
// file. Afterwards nothing about the document asks the network again, so
// the windows may judge its certificates on their own thread.
VerifiedDocument loadSignedDocument(const QString& path, const LoadOptions& options,
                                    const LoadProgress& progress);
// The same with `progress` following the hashing only.
VerifiedDocument loadSignedDocument(const QString& path, const LoadOptions& options = {},
                                    const signature::Progress& progress = {});
// The same from bytes already read; `path` names the signed file for the
// fallback name.
VerifiedDocument verifySignedBytes(const QString& path, QByteArrayView bytes,
                                   const LoadOptions& options);

// Writes the original document, byte for byte, as the whole content of
// `path`, atomically; the failure, if any, comes back.
[[nodiscard]] std::optional<fileinfo::FileError>
writeOriginalDocument(const VerifiedDocument& document, const QString& path);

// Verifies `path` like loadSignedDocument and writes its original document
// to `target`. Where the content is a stretch of the file, the copy runs on
// another thread while the content is hashed, staged beside `target` and put
// in place only once the verification has succeeded; a failed verification
// leaves nothing. `writeFailure` gets the write's failure, if any.
VerifiedDocument loadAndWriteOriginal(const QString& path, const LoadOptions& options,
                                      const QString& target,
                                      std::optional<fileinfo::FileError>& writeFailure);

} // namespace selavia::verify
