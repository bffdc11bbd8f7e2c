#pragma once

// What `selavia-verify` is asked to do, read from its arguments, and the
// texts that explain how to ask.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace selavia::cli {

struct Arguments {
    bool json = false;
    bool offline = false;
    bool force = false;
    bool help = false;
    bool version = false;
    bool prefetch = false; // only fill the revocation cache for the files
    QString extractPath;
    QString reportPath;
    QString contentPath; // the document of a detached signature
    QString resumePath;  // the JSON Lines file a stopped run goes on with
    QStringList files;   // "-" reads paths from standard input
    QDateTime at;        // --at: the instant to judge at; invalid: now

    // Asks for something other than verifying: nothing is read or judged.
    bool informational() const { return help || version; }
    // Several files: folders for --extract and --report, one JSON object
    // per line. Decided by the arguments, not by how many paths "-" gives;
    // a run that can be resumed is always one.
    bool batch() const
    {
        return files.size() > 1 || files.contains(QStringLiteral("-")) || !resumePath.isEmpty();
    }
};

// nullopt with a message in `problem` when the arguments make no sense.
std::optional<Arguments> parseArguments(const QStringList& arguments, QString& problem);

// An ISO 8601 date and time that names its zone ("2026-01-31T12:00:00Z",
// "2026-01-31T09:00:00-03:00"); invalid otherwise, a local time included:
// the same argument must mean the same instant on every machine.
QDateTime instantArgument(const QString& text);

// The help, printed for --help and after a usage error.
QString usageText();
// "selavia-verify 2.1.6".
QString versionText();

} // namespace selavia::cli
