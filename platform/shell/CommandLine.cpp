#include "platform/shell/CommandLine.h"

namespace selavia::shell {

CommandLine splitCommandLine(const QString& text)
{
    CommandLine line;
    if (text.isEmpty())
        return line;
    const QChar separator = text.contains(QLatin1Char('|')) ? QLatin1Char('|') : QLatin1Char(' ');
    const QStringList parts = text.split(separator); // empty parts count as parts
    if (parts.size() < 2) {
        line.incorrect = true;
        return line;
    }
    line.option = parts[0];
    line.argument = parts[1];
    return line;
}

QString commandLineText(const QStringList& arguments)
{
    return arguments.join(QLatin1Char(' '));
}

} // namespace selavia::shell
