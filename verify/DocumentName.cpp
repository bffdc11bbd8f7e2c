#include "DocumentName.h"

#include <QStringList>
#include <QStringView>
#include <algorithm>

namespace selavia::verify {
namespace {

bool isControl(char16_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// Characters that reorder what is shown, so that "fdp.exe" can read as
// "exe.pdf": never part of a name we show or write under.
bool isBidirectionalFormatting(char16_t code)
{
    return code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069) || code == 0x061C;
}

// The longest extension kept when a name is shortened: beyond it, the text
// after the last "." is part of the long name, not an extension.
constexpr qsizetype kMaxKeptExtension = 16;

// Without control and bidirectional-formatting characters, and without
// halves of surrogate pairs, which no file name can hold.
QString withoutUnsafeCharacters(QStringView text)
{
    QString cleaned;
    cleaned.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar character = text[i];
        if (character.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cleaned += character;
            cleaned += text[++i];
            continue;
        }
        const char16_t code = character.unicode();
        if (!character.isSurrogate() && !isControl(code) && !isBidirectionalFormatting(code))
            cleaned += character;
    }
    return cleaned;
}

// The bytes of one character (or surrogate pair) in UTF-8.
qsizetype utf8Length(QStringView character)
{
    if (character.size() == 2)
        return 4;
    const char16_t code = character[0].unicode();
    return code < 0x80 ? 1 : code < 0x800 ? 2 : 3;
}

// The longest start of `text` that fits in `budget` UTF-8 bytes, never
// splitting a surrogate pair. `text` holds no lone surrogates.
QString leadingBytes(QStringView text, qsizetype budget)
{
    qsizetype used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const qsizetype width = text[end].isHighSurrogate() ? 2 : 1;
        const qsizetype bytes = utf8Length(text.sliced(end, width));
        if (used + bytes > budget)
            break;
        used += bytes;
        end += width;
    }
    return text.first(end).toString();
}

QString shortenedName(const QString& name)
{
    if (name.toUtf8().size() <= kMaxDocumentNameBytes)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool keepExtension = dot > 0 && name.size() - dot - 1 <= kMaxKeptExtension;
    const QString extension = keepExtension ? name.mid(dot) : QString();
    const QStringView stem = keepExtension ? QStringView(name).first(dot) : QStringView(name);
    return leadingBytes(stem, kMaxDocumentNameBytes - extension.toUtf8().size()) + extension;
}

} // namespace

QString sanitizedDocumentName(const QString& value)
{
    // The name comes from inside the signed file: only its last component
    // may reach a path, whatever separators it holds.
    const qsizetype separator =
        std::max(value.lastIndexOf(QLatin1Char('/')), value.lastIndexOf(QLatin1Char('\\')));
    const QString cleaned =
        shortenedName(withoutUnsafeCharacters(QStringView(value).sliced(separator + 1)));
    if (cleaned == QLatin1String(".") || cleaned == QLatin1String(".."))
        return {};
    return cleaned;
}

QString displayText(const QString& value)
{
    QString cleaned = withoutUnsafeCharacters(value);
    if (cleaned.size() <= kMaxDisplayTextLength)
        return cleaned;
    qsizetype end = kMaxDisplayTextLength;
    if (cleaned[end - 1].isHighSurrogate())
        --end;
    cleaned.truncate(end);
    return cleaned + QChar(0x2026);
}

std::optional<QString> typedDocumentName(const QString& text)
{
    const QString name = text.trimmed().toLower();
    if (name.isEmpty() || sanitizedDocumentName(name) != name)
        return std::nullopt;
    return name;
}

std::optional<QString> acceptedDocumentName(const QString& value)
{
    const QString name = sanitizedDocumentName(value);
    const QStringList parts = name.split(QLatin1Char('.'));
    // The text after the first "." is tested, not the last extension: a
    // signed file's own name ("x.slv") is no name for the original.
    if (parts.size() < 2 || parts.at(1) == QLatin1String("slv"))
        return std::nullopt;
    return name;
}

} // namespace selavia::verify
