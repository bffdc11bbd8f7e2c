#pragma once

// File properties and file access: the `FileHandler` procedures.

#include "fileinfo/FileError.h"
#include "fileinfo/UniqueFd.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace selavia::fileinfo {

// Selector of GetFileProperty.
enum class FileProperty {
    SizeBytes = 0,
    FileName = 1,
    BaseName = 2,
    Extension = 3,
    SizeText = 4,
    TypeName = 5,
    Location = 6,
    AttributeText = 7,
    DateCreated = 8,
    DateLastAccessed = 9,
    DateLastModified = 10,
};

// Receives the failures of GetFileProperty; the windows turn them into the
// critical message box, the core and the command line ignore or print them.
using FileErrorReporter = std::function<void(const FileError&)>;

// One display property of the file at `path`, in the user's locale. Any
// other selector value gives the empty text. On failure (no such file, a
// folder, unreadable) reports through `reporter` and returns the empty text.
QString GetFileProperty(const QString& path, int selector, const FileErrorReporter& reporter = {});
inline QString GetFileProperty(const QString& path, FileProperty selector,
                               const FileErrorReporter& reporter = {})
{
    return GetFileProperty(path, static_cast<int>(selector), reporter);
}

// The whole content of a regular file; the empty value on any failure,
// without a message. FIFOs, devices and folders are refused at once.
QByteArray ReadFileBytes(const QString& path);

// Writes `data` as the whole content of `path`: into a new file beside it,
// then renamed into place, so a failure never leaves a truncated file. A
// link at `path` is replaced, never the file it points to. The failure, if
// any, comes back.
[[nodiscard]] std::optional<FileError> WriteFileBytes(const QString& path, const QByteArray& data);

// A regular file opened for reading; FIFOs, devices and folders are refused
// at once. Closes the file when it goes.
class RegularFile {
public:
    // nullopt when it cannot be opened; `why`, when given, then says why.
    static std::optional<RegularFile> open(const QString& path, FileError* why = nullptr);

    int descriptor() const { return fd_.get(); }
    qint64 size() const { return size_; }

private:
    RegularFile(UniqueFd fd, qint64 size) : fd_(std::move(fd)), size_(size) {}
    UniqueFd fd_;
    qint64 size_ = 0;
};

// Whether a file (not a folder) exists at `path`.
bool FileExists(const QString& path);

// The absolute form of `path` with each component written as its folder
// lists it and a trailing separator dropped; empty when a component does
// not exist.
QString GetLongPath(const QString& path);

// Display helpers shared with the signature tree.
// The general date form of the user's locale: short date, a blank, the long
// time without a time-zone field; the date alone at exactly midnight.
// `moment` is shown in local time.
QString GeneralDateText(const QDateTime& moment);
// "07/12/2026 05:40:00 UTC": a moment as reports and revocation lines name it,
// the same wherever the reader is.
QString UtcDateText(const QDateTime& moment);
// "07/12/2026 02:40:00": the same form in the user's time zone.
QString LocalDateText(const QDateTime& moment);
// "-03:00": how far the user's time zone was from UTC at `moment`.
QString UtcOffsetText(const QDateTime& moment);
// "07/12/2026 02:40:00 -03:00": local time that says which, for the
// certificate dialog, where moments of several sources meet.
QString ZonedDateText(const QDateTime& moment);
// The size in decimal units ("1,5 KB"), as the properties panel and the
// file dialogs show it.
QString SizeText(qint64 bytes, const QLocale& locale = QLocale());

// The description of the type a file name says it has, in the user's
// language ("Documento PDF", "Documento Assinado Selavia" for a .slv even
// where the MIME database lacks the program's type); empty when the name
// says nothing.
QString TypeNameByName(const QString& fileName);
// The same, "Desconhecido" when the name says nothing.
QString TypeNameOfName(const QString& fileName);

// GetFileProperty for the signed file itself: its type is found by its name
// first, as the desktop's file manager names it (a .slv is the program's own
// type even where the MIME database does not know it, .p7s and .p7m are the
// PKCS#7 types), and by its content only when the name says nothing. Every
// other selector is GetFileProperty's.
QString GetSignedFileProperty(const QString& path, FileProperty selector,
                              const FileErrorReporter& reporter = {});

class StagedFile;

// Reads all of `source` once, summing every byte (its SHA-256 into
// `sha256`) and writing into `target` the first `length` bytes (all of
// them when `length` is negative): what is written comes from the same
// read as the sum that vouches for it.
[[nodiscard]] std::optional<FileError> copySumming(const RegularFile& source, StagedFile& target,
                                                   QByteArray& sha256, qint64 length = -1);

} // namespace selavia::fileinfo
