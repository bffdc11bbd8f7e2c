#include "platform/signature/DerFrame.h"

#include <vector>

namespace selavia::signature {
namespace {

// The part of the message before the content is a few hundred bytes; a
// larger one is read whole instead.
constexpr qint64 kMaxHeader = 1 << 20;

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kConstructedOctetString = 0x24;
// More pieces than this is no signing tool's doing; read such a file whole.
constexpr std::size_t kMaxPieces = 1 << 22;
constexpr unsigned char kContext0 = 0xA0;

const QByteArray kSignedDataOid("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 11);

struct Tlv {
    unsigned char tag = 0;
    qint64 start = 0;        // offset of the tag
    qint64 headerLength = 0; // tag and length octets
    qint64 length = -1;      // -1: indefinite
    qint64 contentStart() const { return start + headerLength; }
    qint64 end() const { return contentStart() + length; }
};

// One tag (single octet) and its length at `offset` of `bytes`.
std::optional<Tlv> readTlv(const QByteArray& bytes, qint64 offset)
{
    if (offset + 2 > bytes.size())
        return std::nullopt;
    Tlv tlv;
    tlv.start = offset;
    tlv.tag = static_cast<unsigned char>(bytes[offset]);
    if ((tlv.tag & 0x1F) == 0x1F)
        return std::nullopt; // multi-octet tags are never used here
    const auto first = static_cast<unsigned char>(bytes[offset + 1]);
    if (first < 0x80) {
        tlv.headerLength = 2;
        tlv.length = first;
        return tlv;
    }
    if (first == 0x80) {
        tlv.headerLength = 2;
        return tlv;
    }
    const int count = first & 0x7F;
    if (count > 7 || offset + 2 + count > bytes.size())
        return std::nullopt;
    qint64 length = 0;
    for (int i = 0; i < count; ++i)
        length = (length << 8) | static_cast<unsigned char>(bytes[offset + 2 + i]);
    tlv.headerLength = 2 + count;
    tlv.length = length;
    return tlv;
}

QByteArray encodeLength(qint64 length)
{
    if (length < 0x80)
        return QByteArray(1, static_cast<char>(length));
    QByteArray octets;
    for (qint64 rest = length; rest > 0; rest >>= 8)
        octets.prepend(static_cast<char>(rest & 0xFF));
    return QByteArray(1, static_cast<char>(0x80 | octets.size())) + octets;
}

// Walks from the outer ContentInfo down to the content OCTET STRING,
// keeping the enclosing elements whose lengths must shrink.
struct Path {
    std::vector<Tlv> enclosing; // outermost first
    qint64 contentStart = 0;    // the content element, header included
    qint64 contentEnd = 0;
    std::vector<ByteRange> ranges;
};

// The pieces of a constructed OCTET STRING whose header is `outer`: each a
// primitive OCTET STRING, up to the end of `outer` or its end-of-contents.
std::optional<qint64> collectPieces(const ReadAt& read, qint64 fileSize, const Tlv& outer,
                                    std::vector<ByteRange>& ranges)
{
    qint64 at = outer.contentStart();
    const qint64 limit = outer.length >= 0 ? outer.end() : fileSize;
    while (at < limit) {
        const QByteArray head = read(at, std::min<qint64>(10, limit - at));
        if (head.startsWith(QByteArray("\x00\x00", 2)) && outer.length < 0)
            return at + 2;
        auto piece = readTlv(head, 0);
        if (!piece || piece->tag != kOctetString || piece->length < 0 ||
            at + piece->headerLength + piece->length > limit || ranges.size() >= kMaxPieces)
            return std::nullopt;
        if (piece->length > 0)
            ranges.push_back({at + piece->headerLength, piece->length});
        at += piece->headerLength + piece->length;
    }
    return outer.length >= 0 && at == limit ? std::optional<qint64>(at) : std::nullopt;
}

std::optional<Path> findContent(const ReadAt& read, const QByteArray& header, qint64 fileSize)
{
    Path path;
    auto enter = [&](qint64 offset, unsigned char tag) -> std::optional<Tlv> {
        auto tlv = readTlv(header, offset);
        if (!tlv || tlv->tag != tag)
            return std::nullopt;
        if (tlv->length >= 0 && tlv->end() > fileSize)
            return std::nullopt;
        path.enclosing.push_back(*tlv);
        return tlv;
    };
    // Skips a definite element of the expected tag; returns where the next begins.
    auto skip = [&](qint64 offset, unsigned char tag) -> std::optional<qint64> {
        auto tlv = readTlv(header, offset);
        if (!tlv || tlv->tag != tag || tlv->length < 0 || tlv->end() > header.size())
            return std::nullopt;
        return tlv->end();
    };

    auto contentInfo = enter(0, kSequence);
    if (!contentInfo)
        return std::nullopt;
    const qint64 typeAt = contentInfo->contentStart();
    if (header.mid(typeAt, kSignedDataOid.size()) != kSignedDataOid)
        return std::nullopt;
    auto explicit0 = enter(typeAt + kSignedDataOid.size(), kContext0);
    if (!explicit0)
        return std::nullopt;
    auto signedData = enter(explicit0->contentStart(), kSequence);
    if (!signedData)
        return std::nullopt;
    auto afterVersion = skip(signedData->contentStart(), kInteger);
    auto afterDigests = afterVersion ? skip(*afterVersion, kSet) : std::nullopt;
    if (!afterDigests)
        return std::nullopt;
    auto encapsulated = enter(*afterDigests, kSequence);
    if (!encapsulated)
        return std::nullopt;
    auto afterType = skip(encapsulated->contentStart(), kOid);
    auto explicitContent = afterType ? enter(*afterType, kContext0) : std::nullopt;
    if (!explicitContent)
        return std::nullopt;
    auto content = readTlv(header, explicitContent->contentStart());
    if (!content)
        return std::nullopt;
    path.contentStart = content->start;
    if (content->tag == kOctetString && content->length >= 0 && content->end() <= fileSize) {
        path.contentEnd = content->end();
        if (content->length > 0)
            path.ranges.push_back({content->contentStart(), content->length});
    } else if (content->tag == kConstructedOctetString) {
        auto end = collectPieces(read, fileSize, *content, path.ranges);
        if (!end)
            return std::nullopt;
        path.contentEnd = *end;
    } else {
        return std::nullopt;
    }
    for (const Tlv& level : path.enclosing) {
        if (level.length >= 0 && level.end() < path.contentEnd)
            return std::nullopt; // damaged: the full parse gives the verdict
    }
    return path;
}

// The header up to the content, with the content made empty and every
// definite enclosing length shortened by what was taken out.
QByteArray rebuiltHeader(const QByteArray& header, const Path& path)
{
    QByteArray rebuilt("\x04\x00", 2);
    qint64 removed = path.contentEnd - path.contentStart - 2;
    qint64 childEnd = path.contentStart;
    for (auto level = path.enclosing.rbegin(); level != path.enclosing.rend(); ++level) {
        // Bytes between this level's header and the next inner level stay as they are.
        const QByteArray between =
            header.mid(level->contentStart(), childEnd - level->contentStart());
        QByteArray tagAndLength(1, static_cast<char>(level->tag));
        if (level->length < 0) {
            tagAndLength.append('\x80');
        } else {
            const qint64 newLength = level->length - removed;
            tagAndLength.append(encodeLength(newLength));
            removed += level->headerLength - tagAndLength.size();
        }
        rebuilt = tagAndLength + between + rebuilt;
        childEnd = level->start;
    }
    return rebuilt;
}

} // namespace

std::optional<FrameSplit> splitAtContent(const ReadAt& read, qint64 size)
{
    const QByteArray header = read(0, std::min(size, kMaxHeader));
    std::optional<Path> path = findContent(read, header, size);
    if (!path)
        return std::nullopt;
    FrameSplit split;
    split.contentRanges = std::move(path->ranges);
    for (const ByteRange& range : split.contentRanges)
        split.contentLength += range.length;
    const QByteArray tail = read(path->contentEnd, size - path->contentEnd);
    if (tail.size() != size - path->contentEnd)
        return std::nullopt;
    split.frame = rebuiltHeader(header, *path) + tail;
    return split;
}

} // namespace selavia::signature
