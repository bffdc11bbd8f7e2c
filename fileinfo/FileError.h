#pragma once

// How the file procedures fail: below both the procedures and the staged
// writes they are made of.

#include <QString>

namespace selavia::fileinfo {

// A failure of a file procedure: a number in the program's numbering (53 for
// a missing file) and a Portuguese description.
struct FileError {
    int number = 0;
    QString description;

    // "53 - Arquivo não encontrado": what the critical message box shows.
    QString text() const { return QString::number(number) + QStringLiteral(" - ") + description; }
};

namespace error_number {
inline constexpr int kFileNotFound = 53;
inline constexpr int kFileExists = 58;
inline constexpr int kDiskFull = 61;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
} // namespace error_number

// The failure of reading, writing or making something, for the errno `err`.
FileError ErrorFromErrno(int err);
// Why a file could not be opened for reading, for the errno `err`: a missing
// file is "Arquivo não encontrado" here (a write names the missing folder),
// and a few more causes than a write has are told by name.
FileError ReadErrorFromErrno(int err);
// The failure numbered `number` with its description.
FileError MakeFileError(int number);

} // namespace selavia::fileinfo
