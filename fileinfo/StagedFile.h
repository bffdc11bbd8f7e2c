#pragma once

// A file written whole beside where it belongs and then put in place with
// one rename, so nobody ever sees it half written, and so putting it in
// place can never write through a link or over a file that appeared
// meanwhile unless that is asked for.

#include "fileinfo/BlockPipe.h"
#include "fileinfo/FileError.h"
#include "fileinfo/UniqueFd.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <variant>

namespace selavia::fileinfo {

// What putting a file in place may replace.
enum class Replace {
    Never, // nothing: not a file, not a link, not a dangling link
    Entry, // the entry at the path itself, a link included (never its target)
};

// Writes every byte of `bytes` to `fd`, going on after a signal and after a
// short write; the error otherwise.
[[nodiscard]] std::optional<FileError> WriteAll(int fd, QByteArrayView bytes);

class StagedFile {
public:
    // A new empty file in the folder of `target`, under a hidden name of its
    // own, created with mode 0666 less the umask.
    static std::variant<StagedFile, FileError> create(const QString& target);
    // The same in `folder`, under a hidden name.
    static std::variant<StagedFile, FileError> createIn(const QString& folder);

    StagedFile(StagedFile&&) noexcept = default;
    StagedFile& operator=(StagedFile&&) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    // Removes the file unless it was put in place.
    ~StagedFile();

    int descriptor() const { return fd_.get(); }
    const QString& path() const { return path_; }

    // Appends `bytes`; the errno-based failure, if any.
    [[nodiscard]] std::optional<FileError> write(QByteArrayView bytes);
    // Closes the file, checking for a late write failure, and renames it to
    // `target`. With Replace::Never a name taken by anything, or whose
    // existence cannot be told, fails with kFileExists; with Replace::Entry
    // an existing regular file gives its owner and read/write bits, never an
    // execute bit; a folder or a device is never replaced. On failure the
    // staged file is gone.
    [[nodiscard]] std::optional<FileError> commit(const QString& target, Replace replace);
    // Removes the staged file now.
    void discard();

private:
    StagedFile(UniqueFd fd, QString path) : fd_(std::move(fd)), path_(std::move(path)) {}
    std::optional<FileError> fail(int err);

    UniqueFd fd_;
    QString path_;
};

// Whether something may be at `path`: an entry of any kind (a dangling link
// too), or an entry whose existence cannot be told.
bool EntryMayExist(const QString& path);

// Appends blocks to a staged file from a thread of its own, so that whoever
// produces the bytes only hands them over. Holds a few MB at most; a
// producer faster than the disk waits.
class StagedWriter {
public:
    explicit StagedWriter(StagedFile file);
    ~StagedWriter();
    StagedWriter(const StagedWriter&) = delete;
    StagedWriter& operator=(const StagedWriter&) = delete;

    // Copies `block` for the writer. After a failure the bytes are dropped.
    void append(QByteArrayView block);
    // Waits until everything handed over is written; the first failure.
    [[nodiscard]] std::optional<FileError> finish();
    StagedFile& file() { return file_; }

private:
    StagedFile file_;
    std::optional<FileError> failure_; // the consumer's; read once it stopped
    BlockPipe pipe_;
};

} // namespace selavia::fileinfo
