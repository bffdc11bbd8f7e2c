#pragma once

// Everything there is to say about one signed file, computed without any
// window: the verdict or the error class, the document's name, the signers
// and the tree as the document window shows it.

#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "platform/signature/SignedData.h"
#include "verify/CertificateClass.h"
#include "verify/LoadOptions.h"
#include "verify/SignatureTree.h"
#include "verify/TemporaryCopy.h"
#include "verify/VerificationError.h"

#include <QDateTime>
#include <QString>
#include <functional>
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
    QString originalName;                 // `OriginalName`
    bool hasExtension = false;            // `HasExtension`
    bool signaturesOk = false;            // `SignaturesOk`
    QDateTime checkedAt;                  // UTC, when the certificates were judged
    bool offline = false;                 // judged without any request to the network
    signature::TrustSources trustSources; // where the trusted roots came from
    // The signed file's size and SHA-256, summed from the verifying read
    // when the load options ask for it (-1 and empty otherwise, or when the
    // file could not be read whole).
    qint64 signedFileSize = -1;
    QByteArray signedFileSha256;

    bool verified() const { return !error.has_value(); }
};

// Reads the file at `path`, verifies it against the options' trust store
// (a detached signature over the document the options name, if they do),
// runs the revocation phase (all chain certificates of all signers, checked
// concurrently) and on success classifies every signer, builds the tree and
// decides the document's name (falling back to the signed file's base name
// when no signer names it; for a detached signature, the document's file
// name). Large contents are hashed straight from the file, and handed to
// `sink` from that same read. Afterwards nothing about
// the document asks the network again, so the windows may judge its
// certificates on their own thread.
VerifiedDocument loadSignedDocument(const QString& path, const LoadOptions& options = {},
                                    const LoadProgress& progress = {},
                                    const signature::ContentSink& sink = {});
// The same from a message read by offset; `path` names the signed file.
VerifiedDocument verifySignedInput(const QString& path, signature::MessageInput& input,
                                   const LoadOptions& options, const LoadProgress& progress = {},
                                   const signature::ContentSink& sink = {});
// The same from bytes already read.
VerifiedDocument verifySignedBytes(const QString& path, QByteArrayView bytes,
                                   const LoadOptions& options);

// The window's load: the content goes into `copy` as it is verified, and the
// copy takes the document's name once verified; nothing stays otherwise.
VerifiedDocument loadIntoCopy(const QString& path, const LoadOptions& options,
                              const LoadProgress& progress, TemporaryCopy& copy);
VerifiedDocument loadIntoCopy(const QString& path, signature::MessageInput& input,
                              const LoadOptions& options, const LoadProgress& progress,
                              TemporaryCopy& copy);

// Writes `copy` again from a new verifying read of the signed file, for a
// copy that is gone or was changed; refused when the file no longer holds
// the content `document` verified.
std::optional<fileinfo::FileError> restageCopy(const VerifiedDocument& document,
                                               const LoadOptions& options, TemporaryCopy& copy);

// Writes the original document of `document` to `target` from a new
// verifying read of the signed file, for when there is no copy to take it
// from; refused, leaving nothing, when the file no longer holds the content
// `document` verified.
std::optional<fileinfo::FileError> extractAgain(const VerifiedDocument& document,
                                                const LoadOptions& options, const QString& target,
                                                fileinfo::Replace replace);

// Verifies `path` and writes its original document to `target` from the
// verifying read: staged beside `target` and put in place only once
// verified, under `replace`'s rule. A failed verification leaves nothing.
struct Extraction {
    VerifiedDocument document;
    std::optional<fileinfo::FileError> failure; // of the write, when verified
};
Extraction extractOriginal(const QString& path, const LoadOptions& options, const QString& target,
                           fileinfo::Replace replace);
Extraction extractOriginal(const QString& path, signature::MessageInput& input,
                           const LoadOptions& options, const QString& target,
                           fileinfo::Replace replace);
// The same into `folder`, under the name `nameOf` gives the verified
// document (called only when it verified).
Extraction extractOriginalInto(const QString& path, const LoadOptions& options,
                               const QString& folder,
                               const std::function<QString(const VerifiedDocument&)>& nameOf,
                               fileinfo::Replace replace);

} // namespace selavia::verify
