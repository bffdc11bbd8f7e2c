#pragma once

// The one way into judging a signed file: an input, the outputs wanted and
// the options, run on the caller's thread; out comes one plain
// ValidationResult. Every presenter renders that value.

#include "fileinfo/FileHandler.h"
#include "fileinfo/StagedFile.h"
#include "platform/signature/SignedData.h"
#include "verify/LoadOptions.h"
#include "verify/TemporaryCopy.h"
#include "verify/ValidationResult.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>

namespace selavia::verify {

class Verification {
public:
    explicit Verification(LoadOptions options = {});
    Verification(const Verification&) = delete;
    Verification& operator=(const Verification&) = delete;

    // The input, one of: the file at `path`; a message read by offset
    // (`path` names it); bytes already read. A detached signature's document
    // is named by the options.
    Verification& readFile(const QString& path);
    Verification& readInput(const QString& path, signature::MessageInput& input);
    Verification& readBytes(const QString& path, QByteArrayView bytes);

    // The outputs, from the one verifying read. The window's temporary copy:
    // staged as the content is hashed, named once verified (keeping the name
    // it has, when it has one), discarded otherwise.
    Verification& intoCopy(TemporaryCopy& copy);
    // The original document written to `target` (or into `folder` under the
    // name `nameOf` gives the verified result), staged beside it and put in
    // place only once verified, under `replace`'s rule. An empty name from
    // `nameOf` writes nothing.
    Verification& extractTo(const QString& target, fileinfo::Replace replace);
    Verification& extractInto(const QString& folder,
                              std::function<QString(const ValidationResult&)> nameOf,
                              fileinfo::Replace replace);
    // Every byte of the content as it is hashed, in order, once.
    Verification& contentSink(signature::ContentSink sink);
    // The verified content kept in memory (for a preview) when it holds at
    // most `cap` bytes: ValidationResult::content.
    Verification& keepContent(qint64 cap);
    // A second read of a file verified before: the outputs are written only
    // when the content is still the one whose SHA-256 is `sha256`.
    Verification& expectContent(const QByteArray& sha256);

    // Told on the running thread as each phase goes; returning false cancels.
    Verification& onProgress(LoadProgress progress);

    // Verifies, judges and writes what was asked. Every worker it starts is
    // joined before it returns.
    ValidationResult run();
    // Stops a run from any thread: requests in flight are aborted, nothing
    // is written, and the result fails with the cancelled error.
    void cancel() { cancelled_ = true; }

private:
    struct Input;
    struct Output;
    ValidationResult readAndVerify();
    ValidationResult verifyWithOutputs(signature::MessageInput* input);
    ValidationResult verifyInput(signature::MessageInput* input,
                                 const signature::ContentSink& sink);
    ValidationResult verifyPdfInput(signature::MessageInput& input,
                                    const signature::ContentSink& sink);

    LoadOptions options_;
    QString path_;
    signature::MessageInput* input_ = nullptr;
    std::optional<QByteArrayView> bytes_;
    TemporaryCopy* copy_ = nullptr;
    QString target_;
    QString folder_;
    std::function<QString(const ValidationResult&)> nameOf_;
    std::optional<fileinfo::Replace> replace_;
    signature::ContentSink sink_;
    qint64 keepCap_ = -1;
    QByteArray expectedContent_;
    LoadProgress progress_;
    std::atomic<bool> cancelled_{false};
};

// A message that says the signed file no longer holds what was verified.
fileinfo::FileError signedFileChanged();

} // namespace selavia::verify
