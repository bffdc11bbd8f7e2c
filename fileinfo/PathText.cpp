#include "fileinfo/PathText.h"

#include <cerrno>
#include <sys/stat.h>

namespace selavia::fileinfo {
namespace {

constexpr char16_t kEscapedByte = 0xDC00;

// Whether the unit at `at` stands for a byte: a low surrogate of the
// escaped range that does not end a pair.
bool isEscapedByte(QStringView text, qsizetype at)
{
    const char16_t unit = text[at].unicode();
    return unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF &&
           (at == 0 || !QChar::isHighSurrogate(text[at - 1].unicode()));
}

// The length of the valid UTF-8 sequence at `at`, 0 when there is none
// (overlong forms, surrogates and values past U+10FFFF are not valid).
qsizetype validSequence(QByteArrayView bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

QString hexEscape(const char* prefix, uint value, int digits)
{
    return QLatin1String(prefix) + QString::number(value, 16).toUpper().rightJustified(digits, '0');
}

bool isDirectionControl(char16_t unit)
{
    return (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069) ||
           unit == 0x200E || unit == 0x200F || unit == 0x061C;
}

QString escaped(const QString& text, bool controls)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text[at];
        const char16_t unit = c.unicode();
        if (isEscapedByte(text, at))
            out += hexEscape("\\x", unit - kEscapedByte, 2);
        else if (controls && (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)))
            out += hexEscape("\\x", unit, 2);
        else if (controls && isDirectionControl(unit))
            out += hexEscape("\\u", unit, 4);
        else
            out += c;
    }
    return out;
}

} // namespace

QString decodePath(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = at;
        while (end < bytes.size()) {
            const qsizetype length = validSequence(bytes, end);
            if (length == 0)
                break;
            end += length;
        }
        text += QString::fromUtf8(bytes.sliced(at, end - at));
        if (end < bytes.size()) {
            const auto invalid = static_cast<unsigned char>(bytes[end]);
            text += QChar(static_cast<char16_t>(kEscapedByte + invalid));
            ++end;
        }
        at = end;
    }
    return text;
}

QByteArray encodePath(const QString& path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype at = 0;
    while (at < path.size()) {
        qsizetype end = at;
        while (end < path.size() && !isEscapedByte(path, end))
            ++end;
        bytes += QStringView(path).sliced(at, end - at).toUtf8();
        if (end < path.size()) {
            bytes += static_cast<char>(path[end].unicode() - kEscapedByte);
            ++end;
        }
        at = end;
    }
    return bytes;
}

QString printableText(const QString& text)
{
    return escaped(text, true);
}

QString withBytesEscaped(const QString& text)
{
    return escaped(text, false);
}

bool MakeFolders(const QString& path)
{
    const QByteArray bytes = encodePath(path);
    if (bytes.isEmpty())
        return false;
    // Each prefix that ends before a separator, then the whole path.
    for (qsizetype slash = bytes.indexOf('/', 1); slash >= 0;
         slash = bytes.indexOf('/', slash + 1)) {
        const QByteArray folder = bytes.left(slash);
        if (::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    if (::mkdir(bytes.constData(), 0777) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    return ::stat(bytes.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace selavia::fileinfo
