#pragma once

// The paths of standard input, one a line, read as bytes a block at a time
// and as they are asked for: a list of any length is never held whole, and
// a name that is not UTF-8 keeps its bytes (fileinfo/PathText.h).

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace selavia::cli {

// Reads up to `size` bytes into `buffer`, returning as soon as there are
// any: how many, 0 at the end of the input, -1 on a failure.
using ByteSource = std::function<qint64(char* buffer, qint64 size)>;

// The bytes of `data`, as a source.
ByteSource bytesSource(QByteArray data);
// What the file descriptor `fd` gives, read as it comes.
ByteSource descriptorSource(int fd);

// One line of the input: a path, or why it is none.
struct InputLine {
    QString path;
    QString problem; // a line too long to be a path
};

class InputLines {
public:
    // A line longer than this is no path (the system takes 4096 bytes at
    // most); its bytes are skipped as they come, never kept.
    static constexpr qsizetype kLongestLine = 64 * 1024;

    explicit InputLines(ByteSource source) : source_(std::move(source)) {}

    // The next line that is not blank, without its "\n" or "\r\n"; nullopt
    // at the end of the input (and ever after).
    std::optional<InputLine> next();

private:
    bool fill();

    ByteSource source_;
    QByteArray buffer_;
    qsizetype start_ = 0; // of what was not yet taken in buffer_
    bool ended_ = false;
    qint64 lineNumber_ = 0;
};

} // namespace selavia::cli
