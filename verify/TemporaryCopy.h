#pragma once

// The temporary copy of the original document that the desktop opens for
// viewing: the one owner of its private folder, its staged file, its name,
// its renaming and its removal. The copy is written from the verifying read
// itself, and whatever is copied out of it is checked against the verified
// content first.

#include "fileinfo/FileHandler.h"
#include "fileinfo/PrivateFolder.h"
#include "fileinfo/StagedFile.h"
#include "platform/signature/SignedData.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace selavia::verify {

class TemporaryCopy {
public:
    // Under `base` (the folder named by TEMP), or the platform's temporary
    // folder when `base` is empty.
    explicit TemporaryCopy(QString base);
    ~TemporaryCopy();
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    // Starts a copy beside a verification: the sink writes what is hashed
    // into a staged file of the private folder, from a thread of its own.
    // When the folder or the file cannot be made the sink drops the bytes
    // and failure() tells why.
    signature::ContentSink stage();
    // The verification succeeded: the staged copy takes `name` (a document
    // name, see typedDocumentName) and must hold content whose SHA-256 is
    // `sha256`. The failure, if any, is also kept.
    std::optional<fileinfo::FileError> place(const QString& name, const QByteArray& sha256);
    // The verification failed or stopped: nothing staged stays.
    void discard();
    // Gives the copy a new name ("Aplicar"); the old name goes. Without a
    // copy in place only the name changes and failure() stays.
    std::optional<fileinfo::FileError> rename(const QString& name);

    // Where the copy is; where it would be when it could not be written.
    QString path() const;
    const QString& name() const { return name_; }
    // Why the copy is not in place; nullopt when it is.
    const std::optional<fileinfo::FileError>& failure() const { return failure_; }
    // The copy is in place and still a regular file.
    bool present() const;
    // Writes the copy to `target` through a staged file beside it, only if
    // it still holds the verified content; `replace` says what may be at
    // `target`. A copy found changed (a viewer may have saved over it) is no
    // longer present.
    std::optional<fileinfo::FileError> copyTo(const QString& target, fileinfo::Replace replace);

private:
    std::optional<fileinfo::FileError> makeFolder();

    QString base_;
    std::optional<fileinfo::PrivateFolder> folder_;
    std::shared_ptr<fileinfo::StagedWriter> staging_;
    QString name_;
    QByteArray sha256_;
    bool placed_ = false;
    std::optional<fileinfo::FileError> failure_;
};

} // namespace selavia::verify
