#pragma once

#include <QString>
#include <optional>

namespace selavia::verify {

// The longest document name kept, in bytes of its UTF-8 form: what one file
// name may hold on the usual file systems, since the name becomes the
// temporary copy's.
inline constexpr qsizetype kMaxDocumentNameBytes = 255;
// The longest text shown for a value read from a certificate, in UTF-16
// units, before the ellipsis.
inline constexpr qsizetype kMaxDisplayTextLength = 256;

// A document-name value reduced to something safe to show and to write
// under: its last path component (after any "/" or "\"), without control
// or bidirectional-formatting characters, and shortened to
// kMaxDocumentNameBytes keeping a short last extension. Empty, "." and ".."
// give "".
QString sanitizedDocumentName(const QString& value);

// A text from inside the signed file (a holder's name, an e-mail) made safe
// to show: without control or bidirectional-formatting characters, and cut
// to kMaxDisplayTextLength with "…" after it.
QString displayText(const QString& value);

// A name the user typed for the original document ("Aplicar"): blanks
// around it removed, in lower case. nullopt when it cannot be a file name in
// the private folder as it stands (empty, "." or "..", a separator, control
// or reordering characters, too long): the same rule as for names read from
// the signed file.
std::optional<QString> typedDocumentName(const QString& text);

// The document-name rule: the sanitized value is accepted when it holds a
// "." and the text between its first and second "." is not exactly "slv".
std::optional<QString> acceptedDocumentName(const QString& value);

} // namespace selavia::verify
