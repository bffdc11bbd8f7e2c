#pragma once

// File names as the system has them, bytes, and as the program handles
// them, text. A name that is not UTF-8 keeps every byte: each byte that is
// no part of a valid UTF-8 sequence becomes a lone surrogate U+DC80 + byte
// (0x80–0xFF), which no valid UTF-8 can produce, so the way back is exact.
// Everything that hands a path to the system goes through encodePath.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace selavia::fileinfo {

// The name as text, without loss.
QString decodePath(QByteArrayView bytes);
// The bytes to hand to the system: UTF-8, but each escaped byte as itself.
QByteArray encodePath(const QString& path);

// A name for a line of text output: every control character (C0, DEL, C1)
// and every direction override or isolate as "\x0A" or "\u202E", and every
// byte that was not UTF-8 as "\xE9". Nothing printed from a name can start
// a line or reorder one.
QString printableText(const QString& text);
// The same for JSON, which escapes control characters itself: only the
// bytes that were not UTF-8, as "\xE9".
QString withBytesEscaped(const QString& text);

// Makes the folder at `path` and every missing folder above it; true when
// it is a folder at the end.
bool MakeFolders(const QString& path);

} // namespace selavia::fileinfo
