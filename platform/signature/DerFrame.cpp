#include "platform/signature/DerFrame.h"

#include "platform/signature/Limits.h"
#include "platform/signature/SignatureError.h"

#include <vector>

namespace selavia::signature {
namespace {

// The part of the message before the content is a few hundred bytes; a
// larger one is read whole instead.
constexpr qint64 kMaxHeader = 1 << 20;
// What follows the content (certificates, lists, signer infos, time-stamps)
// is held in memory to be parsed: real messages carry a few MB at most.
constexpr qint64 kMaxTail = 64 << 20;
// Indefinite elements inside indefinite elements.
constexpr int kMaxNesting = 16;
// Constructed pieces inside the content's constructed string: as deep as
// OpenSSL's own decoder goes, so that a message read in place and the same
// message read whole get one verdict.
constexpr int kMaxPieceNesting = 5;

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kConstructedOctetString = 0x24;
constexpr unsigned char kContext0 = 0xA0;
constexpr unsigned char kConstructed = 0x20;
constexpr qint64 kMaxHeaderOctets = 10; // tag, length octet, up to eight more

const QByteArray kSignedDataOid("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 11);

struct Tlv {
    unsigned char tag = 0;
    qint64 start = 0;        // offset of the tag
    qint64 headerLength = 0; // tag and length octets
    qint64 length = -1;      // -1: indefinite
    qint64 contentStart() const { return start + headerLength; }
    qint64 end() const { return contentStart() + length; }
};

// One tag (single octet) and its length at `offset` of `bytes`, which
// start at `base` of the file.
std::optional<Tlv> readTlv(QByteArrayView bytes, qint64 offset, qint64 base = 0)
{
    if (offset < 0 || offset + 2 > bytes.size())
        return std::nullopt;
    Tlv tlv;
    tlv.start = base + offset;
    tlv.tag = static_cast<unsigned char>(bytes[offset]);
    if ((tlv.tag & 0x1F) == 0x1F)
        return std::nullopt; // multi-octet tags are never used here
    const auto first = static_cast<unsigned char>(bytes[offset + 1]);
    tlv.headerLength = 2;
    if (first < 0x80) {
        tlv.length = first;
        return tlv;
    }
    if (first == 0x80)
        return (tlv.tag & kConstructed) != 0 ? std::optional<Tlv>(tlv) : std::nullopt;
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

// The header of the element at `offset` of the file.
std::optional<Tlv> tlvAt(const ReadAt& read, qint64 offset, qint64 limit)
{
    if (offset >= limit)
        return std::nullopt;
    return readTlv(read(offset, std::min(kMaxHeaderOctets, limit - offset)), 0, offset);
}

bool endOfContents(const ReadAt& read, qint64 offset)
{
    return read(offset, 2) == QByteArray("\x00\x00", 2);
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

// Walks a constructed OCTET STRING: each piece an OCTET STRING, primitive
// or constructed in turn, up to the end of `outer` or its end-of-contents.
class PieceWalk {
public:
    PieceWalk(const ReadAt& read, const std::function<void(qint64, qint64)>& piece)
        : read_(read), piece_(piece)
    {
    }

    // The end of `outer`, which ends at `limit` at the latest.
    std::optional<qint64> walk(const Tlv& outer, qint64 limit, int depth)
    {
        if (depth > kMaxPieceNesting)
            return std::nullopt;
        const qint64 end = outer.length >= 0 ? outer.end() : limit;
        if (end > limit)
            return std::nullopt;
        qint64 at = outer.contentStart();
        while (at < end) {
            if (outer.length < 0 && endOfContents(read_, at))
                return at + 2;
            std::optional<Tlv> piece = tlvAt(read_, at, end);
            if (!piece || (piece->length >= 0 && piece->end() > end))
                return std::nullopt;
            if (++pieces_ > limits::kMaxContentPieces)
                throw SignatureError::of(code::kLimitExceeded);
            std::optional<qint64> next;
            if (piece->tag == kConstructedOctetString)
                next = walk(*piece, end, depth + 1);
            else if (piece->tag == kOctetString)
                next = primitive(*piece);
            if (!next)
                return std::nullopt;
            at = *next;
        }
        return outer.length >= 0 && at == end ? std::optional<qint64>(at) : std::nullopt;
    }

    // A primitive string: its bytes are content.
    std::optional<qint64> primitive(const Tlv& string)
    {
        if (string.length > 0 && piece_)
            piece_(string.contentStart(), string.length);
        length_ += string.length;
        return string.end();
    }

    qint64 length() const { return length_; }

private:
    const ReadAt& read_;
    const std::function<void(qint64, qint64)>& piece_;
    qint64 pieces_ = 0;
    qint64 length_ = 0;
};

// Walks from the outer ContentInfo down to the content, keeping the
// enclosing elements whose lengths must shrink.
struct Path {
    std::vector<Tlv> enclosing; // outermost first
    ContentElement content;
};

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
    // The innermost definite level bounds the content.
    qint64 limit = fileSize;
    for (const Tlv& level : path.enclosing) {
        if (level.length >= 0)
            limit = std::min(limit, level.end());
    }
    const std::function<void(qint64, qint64)> none;
    PieceWalk walk(read, none);
    std::optional<qint64> end;
    if (content->tag == kOctetString && content->length >= 0 && content->end() <= limit)
        end = walk.primitive(*content);
    else if (content->tag == kConstructedOctetString)
        end = walk.walk(*content, limit, 0);
    if (!end)
        return std::nullopt;
    path.content = {content->start, *end, walk.length()};
    return path;
}

// The end of the element at `offset`, walking indefinite lengths down to
// their end-of-contents; the content element's end is already known.
std::optional<qint64> elementEnd(const ReadAt& read, qint64 offset, qint64 fileSize,
                                 const ContentElement& content, qint64 tailLimit, int depth)
{
    if (offset == content.offset)
        return content.end;
    if (depth > kMaxNesting)
        return std::nullopt;
    std::optional<Tlv> tlv = tlvAt(read, offset, fileSize);
    if (!tlv)
        return std::nullopt;
    if (tlv->length >= 0)
        return tlv->end() <= fileSize ? std::optional<qint64>(tlv->end()) : std::nullopt;
    qint64 at = tlv->contentStart();
    while (at < fileSize) {
        if (at > tailLimit)
            throw SignatureError::of(code::kLimitExceeded);
        if (endOfContents(read, at))
            return at + 2;
        std::optional<qint64> next = elementEnd(read, at, fileSize, content, tailLimit, depth + 1);
        if (!next)
            return std::nullopt;
        at = *next;
    }
    return std::nullopt;
}

// The header up to the content, with the content made empty and every
// definite enclosing length shortened by what was taken out.
QByteArray rebuiltHeader(const QByteArray& header, const Path& path)
{
    QByteArray rebuilt("\x04\x00", 2);
    qint64 removed = path.content.end - path.content.offset - 2;
    qint64 childEnd = path.content.offset;
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
    const ContentElement& content = path->content;
    std::optional<qint64> messageEnd =
        elementEnd(read, 0, size, content, content.end + kMaxTail, 0);
    if (!messageEnd || *messageEnd < content.end)
        return std::nullopt;
    for (const Tlv& level : path->enclosing) {
        if (level.length >= 0 && level.end() < content.end)
            return std::nullopt; // damaged: the full parse gives the verdict
    }
    const qint64 tailLength = *messageEnd - content.end;
    if (tailLength > kMaxTail)
        throw SignatureError::of(code::kLimitExceeded);
    const QByteArray tail = read(content.end, tailLength);
    if (tail.size() != tailLength)
        return std::nullopt;
    FrameSplit split;
    split.frame = rebuiltHeader(header, *path) + tail;
    split.content = content;
    return split;
}

void walkContent(const ReadAt& readSmall, const ContentElement& content,
                 const std::function<void(qint64 offset, qint64 length)>& piece)
{
    PieceWalk walk(readSmall, piece);
    std::optional<Tlv> element = tlvAt(readSmall, content.offset, content.end);
    std::optional<qint64> end;
    if (element && element->tag == kOctetString)
        end = walk.primitive(*element);
    else if (element && element->tag == kConstructedOctetString)
        end = walk.walk(*element, content.end, 0);
    if (!end || *end != content.end || walk.length() != content.length)
        throw SignatureError::of(code::kNotSignedData);
}

std::optional<qint64> definiteMessageEnd(QByteArrayView head)
{
    std::optional<Tlv> outer = readTlv(head, 0);
    if (!outer || outer->tag != kSequence || outer->length < 0)
        return std::nullopt;
    return outer->end();
}

std::optional<int> countDigestAlgorithms(QByteArrayView der)
{
    // ContentInfo, its [0], SignedData, version: each entered or stepped
    // over, each inside the definite levels around it, as the parser will
    // want them; a set that runs out of them is the parser's to refuse.
    qint64 limit = der.size();
    auto inside = [&](std::optional<Tlv> tlv) -> std::optional<Tlv> {
        if (!tlv || (tlv->length >= 0 && tlv->end() > limit))
            return std::nullopt;
        return tlv;
    };
    auto enter = [&](std::optional<Tlv> tlv) -> std::optional<Tlv> {
        tlv = inside(tlv);
        if (tlv && tlv->length >= 0)
            limit = tlv->end();
        return tlv;
    };
    std::optional<Tlv> contentInfo = enter(readTlv(der, 0));
    std::optional<Tlv> type =
        contentInfo ? inside(readTlv(der, contentInfo->contentStart())) : std::nullopt;
    if (!type || type->length < 0)
        return std::nullopt;
    std::optional<Tlv> explicit0 = enter(readTlv(der, type->end()));
    std::optional<Tlv> signedData =
        explicit0 ? enter(readTlv(der, explicit0->contentStart())) : std::nullopt;
    std::optional<Tlv> version =
        signedData ? inside(readTlv(der, signedData->contentStart())) : std::nullopt;
    if (!version || version->length < 0)
        return std::nullopt;
    std::optional<Tlv> set = enter(readTlv(der, version->end()));
    if (!set || set->tag != kSet)
        return std::nullopt;
    int count = 0;
    qint64 at = set->contentStart();
    while (set->length < 0 ? at + 2 <= limit && !(der[at] == 0 && der[at + 1] == 0)
                           : at < set->end()) {
        std::optional<Tlv> entry = inside(readTlv(der, at));
        if (!entry || entry->length < 0)
            return std::nullopt;
        ++count;
        at = entry->end();
    }
    return count;
}

std::optional<CertificatesSplit> splitCertificates(QByteArrayView der)
{
    // Each element read here must lie, with a definite length, inside the
    // one around it.
    auto within = [&](qint64 offset, qint64 end) -> std::optional<Tlv> {
        std::optional<Tlv> tlv = readTlv(der, offset);
        if (!tlv || tlv->length < 0 || tlv->end() > end)
            return std::nullopt;
        return tlv;
    };
    const qint64 size = der.size();
    const std::optional<Tlv> contentInfo = within(0, size);
    if (!contentInfo || contentInfo->tag != kSequence || contentInfo->end() != size)
        return std::nullopt;
    const std::optional<Tlv> type = within(contentInfo->contentStart(), size);
    if (!type || type->tag != kOid)
        return std::nullopt;
    const std::optional<Tlv> explicit0 = within(type->end(), size);
    if (!explicit0 || explicit0->tag != kContext0 || explicit0->end() != size)
        return std::nullopt;
    const std::optional<Tlv> signedData = within(explicit0->contentStart(), size);
    if (!signedData || signedData->tag != kSequence || signedData->end() != size)
        return std::nullopt;
    // version, digestAlgorithms, encapContentInfo, then the [0] set.
    qint64 at = signedData->contentStart();
    for (int skipped = 0; skipped < 3; ++skipped) {
        const std::optional<Tlv> element = within(at, size);
        if (!element)
            return std::nullopt;
        at = element->end();
    }
    const std::optional<Tlv> set = within(at, size);
    if (!set || set->tag != kContext0)
        return std::nullopt;
    CertificatesSplit split;
    for (qint64 entry = set->contentStart(); entry < set->end();) {
        const std::optional<Tlv> certificate = within(entry, set->end());
        if (!certificate || certificate->tag != kSequence)
            return std::nullopt;
        split.certificates.push_back(der.sliced(entry, certificate->end() - entry));
        entry = certificate->end();
    }
    if (split.certificates.empty())
        return std::nullopt;
    // The SignedData without the set, then the two levels around it.
    QByteArray body;
    body.reserve(size);
    body.append(der.sliced(signedData->contentStart(), set->start - signedData->contentStart()));
    body.append(der.sliced(set->end(), size - set->end()));
    QByteArray inner = QByteArray(1, static_cast<char>(kSequence)) + encodeLength(body.size());
    inner.append(body);
    QByteArray wrapped = QByteArray(1, static_cast<char>(kContext0)) + encodeLength(inner.size());
    wrapped.append(inner);
    const QByteArrayView typeBytes = der.sliced(type->start, type->end() - type->start);
    split.message = QByteArray(1, static_cast<char>(kSequence)) +
                    encodeLength(typeBytes.size() + wrapped.size());
    split.message.append(typeBytes);
    split.message.append(wrapped);
    return split;
}

} // namespace selavia::signature
