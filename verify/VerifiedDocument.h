#pragma once

// Everything there is to say about one signed file, computed without any
// window: the verdict or the error class, the document's name, the signers
// and the tree as the document window shows it.

#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "platform/signature/SignedData.h"
#include "verify/CertificateClass.h"
#include "verify/SignatureTree.h"
#include "verify/TemporaryCopy.h"
#include "verify/VerificationError.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace selavia::verify {

struct VerifiedDocument {
    QString filePath;                       // `aFilePath`, as given
    std::optional<VerificationError> error; // set when verification failed
    // The verified message: its signers, the content's size and SHA-256.
    std::shared_ptr<signature::SignedData> signedData;
    std::vector<SignerEntry> signers;
    std::vector<TreeNode> tree;
    QString originalName;      // `OriginalName`
    bool hasExtension = false; // `HasExtension`
    bool signaturesOk = false; // `SignaturesOk`

    bool verified() const { return !error.has_value(); }
};

struct LoadOptions {
    signature::Progress progress; // follows the hashing of a large content
    signature::ContentSink sink;  // gets the content from the verifying read
};

// Reads the file at `path`, verifies it against `trustStore`, and on success
// classifies every signer, builds the tree and decides the document's name
// (falling back to the signed file's base name when no signer names it).
// Large contents are hashed straight from the file.
VerifiedDocument
loadSignedDocument(const QString& path,
                   signature::TrustStore trustStore = signature::TrustStore::systemDefault(),
                   const LoadOptions& options = {});
// The same from a message read by offset; `path` names the signed file.
VerifiedDocument verifySignedInput(const QString& path, signature::MessageInput& input,
                                   signature::TrustStore trustStore,
                                   const LoadOptions& options = {});
// The same from bytes already read.
VerifiedDocument verifySignedBytes(const QString& path, QByteArrayView bytes,
                                   signature::TrustStore trustStore);

// The window's load: the content goes into `copy` as it is verified, and the
// copy takes the document's name once verified; nothing stays otherwise.
VerifiedDocument loadIntoCopy(const QString& path, signature::TrustStore trustStore,
                              const signature::Progress& progress, TemporaryCopy& copy);
VerifiedDocument loadIntoCopy(const QString& path, signature::MessageInput& input,
                              signature::TrustStore trustStore, const signature::Progress& progress,
                              TemporaryCopy& copy);

// Writes `copy` again from a new verifying read of the signed file, for a
// copy that is gone or was changed; refused when the file no longer holds
// the content `document` verified.
std::optional<fileinfo::FileError> restageCopy(const VerifiedDocument& document,
                                               signature::TrustStore trustStore,
                                               TemporaryCopy& copy);

// Writes the original document of `document` to `target` from a new
// verifying read of the signed file, for when there is no copy to take it
// from; refused, leaving nothing, when the file no longer holds the content
// `document` verified.
std::optional<fileinfo::FileError> extractAgain(const VerifiedDocument& document,
                                                signature::TrustStore trustStore,
                                                const QString& target, fileinfo::Replace replace);

// Verifies `path` and writes its original document to `target` from the
// verifying read: staged beside `target` and put in place only once
// verified, under `replace`'s rule. A failed verification leaves nothing.
struct Extraction {
    VerifiedDocument document;
    std::optional<fileinfo::FileError> failure; // of the write, when verified
};
Extraction extractOriginal(const QString& path, signature::TrustStore trustStore,
                           const QString& target, fileinfo::Replace replace);
Extraction extractOriginal(const QString& path, signature::MessageInput& input,
                           signature::TrustStore trustStore, const QString& target,
                           fileinfo::Replace replace);

} // namespace selavia::verify
