#pragma once

#include <QByteArray>
#include <functional>
#include <optional>
#include <vector>

namespace selavia::signature {

// A stretch of the file.
struct ByteRange {
    qint64 offset = 0;
    qint64 length = 0;
};

// A SignedData message cut around its content: `frame` is the message with
// the content replaced by an empty OCTET STRING (enclosing lengths
// adjusted), and the content is `contentRanges` of the file, in order.
struct FrameSplit {
    QByteArray frame;
    std::vector<ByteRange> contentRanges;
    qint64 contentLength = 0;
};

// Reads up to `length` bytes at `offset`; fewer only at the end of the file.
using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

// Cuts the message of `size` bytes when its content is a primitive OCTET
// STRING, or a constructed one made of primitive pieces (what streaming
// signers write, with indefinite lengths). nullopt for anything else
// (detached content, not a SignedData, damage): such messages are read whole.
std::optional<FrameSplit> splitAtContent(const ReadAt& read, qint64 size);

} // namespace selavia::signature
