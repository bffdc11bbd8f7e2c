#pragma once

// --resume: the JSON Lines file of an earlier run, read once, then appended
// to. An input whose line is already there, for the same bytes, is not
// verified again, so a stopped run of a long list goes on where it stopped.
//
// Each line is written with one write(2) to a file opened for appending, so
// a killed run leaves whole lines and at most one torn last line, the one
// in flight; that line has no "\n", and opening the file again cuts it off
// (the file ends at its last complete line) and its input is verified again.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace selavia::cli {

class ResumeFile {
public:
    // Reads the lines of `path` (made when missing) and holds it for
    // appending; nullptr, with a message in `problem`, when it cannot.
    static std::unique_ptr<ResumeFile> open(const QString& path, QString& problem);
    ~ResumeFile();
    ResumeFile(const ResumeFile&) = delete;
    ResumeFile& operator=(const ResumeFile&) = delete;

    // The exit status of the line already there for `path` with the bytes
    // the file has now (or, for a file that cannot be read, a line that
    // could not read it either); nullopt when there is none and it must be
    // verified. Reads the file only when its name has a line. Safe on many
    // threads.
    std::optional<int> done(const QString& path) const;

    // Appends one line, which must end in "\n", in one write. False when
    // not all of it could be written.
    bool append(const QByteArray& line);

    // The lines read at opening that name a file and its bytes.
    qsizetype known() const { return static_cast<qsizetype>(entries_.size()); }
    // The bytes of a torn last line cut off at opening.
    qint64 cut() const { return cut_; }

private:
    // A line, kept small so that a million of them fit in a few tens of
    // MiB: the name's and the bytes' digests, 64 and 128 bits of SHA-256.
    struct Entry {
        std::uint64_t name = 0;
        std::array<std::uint8_t, 16> bytes{};
        std::uint8_t status = 0;
        bool unread = false; // the file could not be read: no bytes to match
    };

    ResumeFile() = default;
    static std::uint64_t nameKey(const QString& fileValue);
    void add(const QByteArray& line);

    int fd_ = -1;
    qint64 cut_ = 0;
    std::vector<Entry> entries_; // sorted by name once read
};

// The exit status a JSON report line stands for, as the run that wrote it
// returned it.
int statusOfLine(bool verified, bool signaturesOk, const QString& verdict);

} // namespace selavia::cli
