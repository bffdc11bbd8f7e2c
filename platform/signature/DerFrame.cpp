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
    Tlv content;
};

std::optional<Path> findContent(const QByteArray& header, qint64 fileSize)
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
    if (!content || content->tag != kOctetString || content->length < 0 ||
        content->end() > fileSize)
        return std::nullopt;
    for (const Tlv& level : path.enclosing) {
        if (level.length >= 0 && level.end() < content->end())
            return std::nullopt; // damaged: the full parse gives the verdict
    }
    path.content = *content;
    return path;
}

// The header up to the content, with the content made empty and every
// definite enclosing length shortened by what was taken out.
QByteArray rebuiltHeader(const QByteArray& header, const Path& path)
{
    QByteArray rebuilt("\x04\x00", 2);
    qint64 removed = path.content.headerLength + path.content.length - 2;
    qint64 childEnd = path.content.start;
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
    std::optional<Path> path = findContent(header, size);
    if (!path)
        return std::nullopt;
    FrameSplit split;
    split.contentOffset = path->content.contentStart();
    split.contentLength = path->content.length;
    const QByteArray tail = read(path->content.end(), size - path->content.end());
    if (tail.size() != size - path->content.end())
        return std::nullopt;
    split.frame = rebuiltHeader(header, *path) + tail;
    return split;
}

} // namespace selavia::signature
