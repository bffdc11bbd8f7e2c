// Arbitrary UTF-8 as the command line → option and argument.

#include "platform/shell/CommandLine.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using selavia::fuzz::require;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const selavia::shell::CommandLine line = selavia::shell::splitCommandLine(text);
    if (line.incorrect) {
        require(line.option.isEmpty() && line.argument.isEmpty(), "an incorrect line has no parts");
        return 0;
    }
    if (text.isEmpty()) {
        require(line.option.isEmpty() && line.argument.isEmpty(), "an empty line has no parts");
        return 0;
    }
    // The two parts are the text's first two pieces, separator between.
    const QChar separator = text.contains(QLatin1Char('|')) ? QLatin1Char('|') : QLatin1Char(' ');
    require(!line.option.contains(separator) && !line.argument.contains(separator),
            "parts hold no separator");
    require(text.startsWith(line.option + separator + line.argument), "parts are the text's start");
    return 0;
}
