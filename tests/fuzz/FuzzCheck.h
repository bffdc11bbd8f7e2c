#pragma once

// What the fuzz targets hold the code to besides "no crash": a broken
// promise aborts, which libFuzzer reports like a crash.

#include <QString>
#include <cstdio>
#include <cstdlib>

namespace selavia::fuzz {

inline void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz: broken promise: %s\n", what);
        std::abort();
    }
}

// Control characters and the marks that reorder text ("fdp.exe" shown as
// "exe.pdf"): never in anything shown as a name or used for a file name.
// Written out here again on purpose, so the target does not check the code
// against itself.
inline bool isSafeToShow(const QString& text)
{
    for (QChar character : text) {
        const char16_t code = character.unicode();
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E ||
            code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
            (code >= 0x2066 && code <= 0x2069))
            return false;
    }
    return true;
}

} // namespace selavia::fuzz
