#include "cli/InputLines.h"

#include "fileinfo/PathText.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>

namespace selavia::cli {
namespace {

constexpr qint64 kBlock = 64 * 1024;

} // namespace

ByteSource bytesSource(QByteArray data)
{
    auto offset = std::make_shared<qsizetype>(0);
    return [data = std::move(data), offset](char* buffer, qint64 size) -> qint64 {
        const qint64 count = std::min<qint64>(size, data.size() - *offset);
        std::copy_n(data.constData() + *offset, count, buffer);
        *offset += count;
        return count;
    };
}

ByteSource descriptorSource(int fd)
{
    return [fd](char* buffer, qint64 size) -> qint64 {
        for (;;) {
            const ssize_t got = ::read(fd, buffer, static_cast<size_t>(size));
            if (got >= 0 || errno != EINTR)
                return got;
        }
    };
}

// Appends a block of the source to what is left; false at the end.
bool InputLines::fill()
{
    if (ended_ || !source_)
        return false;
    if (start_ > 0) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    const qsizetype used = buffer_.size();
    buffer_.resize(used + kBlock);
    const qint64 got = source_(buffer_.data() + used, kBlock);
    buffer_.resize(used + std::max<qint64>(got, 0));
    ended_ = got <= 0;
    return !ended_;
}

std::optional<InputLine> InputLines::next()
{
    for (;;) {
        qsizetype end = buffer_.indexOf('\n', start_);
        while (end < 0 && buffer_.size() - start_ <= kLongestLine && fill())
            end = buffer_.indexOf('\n', start_);
        // A line past the longest a path can be: its bytes are dropped as
        // they come, up to its end.
        bool tooLong = end < 0 && buffer_.size() - start_ > kLongestLine;
        while (end < 0 && tooLong) {
            buffer_.clear();
            start_ = 0;
            if (!fill())
                break;
            end = buffer_.indexOf('\n');
        }
        if (end < 0 && buffer_.size() == start_ && !tooLong)
            return std::nullopt;
        ++lineNumber_;
        const qsizetype stop = end < 0 ? buffer_.size() : end;
        QByteArrayView line(buffer_.constData() + start_, stop - start_);
        start_ = end < 0 ? buffer_.size() : end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (tooLong || line.size() > kLongestLine)
            return InputLine{{},
                             QStringLiteral("A linha %1 da entrada padrão é longa demais para ser "
                                            "um caminho; foi ignorada.\n")
                                 .arg(lineNumber_)};
        if (!line.isEmpty())
            return InputLine{fileinfo::decodePath(line), {}};
    }
}

} // namespace selavia::cli
