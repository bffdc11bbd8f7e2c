#pragma once

#include <QString>
#include <QStringList>

namespace selavia::shell {

// The command line as start-up reads it: the option (part 0) and the
// argument (part 1) of the text split at every "|", or at every single blank
// when it holds no "|". Nothing is trimmed and quotes stay.
struct CommandLine {
    QString option;
    QString argument;
    // One part only: "Parámetros Incorretos.", and the option is dropped.
    bool incorrect = false;
};

CommandLine splitCommandLine(const QString& text);

// The text start-up splits: the program's arguments joined with single blanks.
QString commandLineText(const QStringList& arguments);

} // namespace selavia::shell
