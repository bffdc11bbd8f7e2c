#include "DocumentName.h"

#include <QStringList>
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

} // namespace

QString sanitizedDocumentName(const QString& value)
{
    // The name comes from inside the signed file: only its last component
    // may reach a path, whatever separators it holds.
    const qsizetype separator =
        std::max(value.lastIndexOf(QLatin1Char('/')), value.lastIndexOf(QLatin1Char('\\')));
    const QString component = value.mid(separator + 1);

    QString cleaned;
    cleaned.reserve(component.size());
    for (QChar character : component) {
        const char16_t code = character.unicode();
        if (!isControl(code) && !isBidirectionalFormatting(code))
            cleaned += character;
    }
    if (cleaned == QLatin1String(".") || cleaned == QLatin1String(".."))
        return {};
    return cleaned;
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
