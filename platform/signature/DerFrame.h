#pragma once

#include <QByteArray>
#include <functional>
#include <optional>

namespace selavia::signature {

// A SignedData message cut around its content: `frame` is the message with
// the content replaced by an empty OCTET STRING (enclosing lengths
// adjusted), and the content is the byte range [contentOffset,
// contentOffset + contentLength) of the file.
struct FrameSplit {
    QByteArray frame;
    qint64 contentOffset = 0;
    qint64 contentLength = 0;
};

// Reads up to `length` bytes at `offset`; fewer only at the end of the file.
using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

// Cuts the message of `size` bytes when its content is one primitive
// OCTET STRING of definite length, which is how signing tools write it.
// nullopt for anything else (indefinite or constructed content, detached
// content, not a SignedData, damage): such messages are read whole.
std::optional<FrameSplit> splitAtContent(const ReadAt& read, qint64 size);

} // namespace selavia::signature
