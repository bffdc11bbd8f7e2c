#pragma once

#include <QString>

#include <optional>

namespace selavia::verify {

// A document-name value reduced to something safe to show and to write
// under: its last path component (after any "/" or "\"), without control
// or bidirectional-formatting characters. Empty, "." and ".." give "".
QString sanitizedDocumentName(const QString& value);

// The document-name rule: the sanitized value is accepted when it holds a
// "." and the text between its first and second "." is not exactly "slv".
std::optional<QString> acceptedDocumentName(const QString& value);

} // namespace selavia::verify
