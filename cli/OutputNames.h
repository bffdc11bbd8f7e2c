#pragma once

// The names a run writes, the original documents and the reports, kept so
// that no two outputs of one run ever land on one name, --force or not: the
// first to claim a name has it, the others are refused and told why.

#include <QString>
#include <map>
#include <mutex>

namespace selavia::cli {

enum class OutputKind { Document, Report };

class OutputNames {
public:
    // Claims `path` for the `kind` output of `signedFile`: empty when it is
    // this output's now, else the message that says why it is not (ends
    // with a line break). Thread-safe.
    QString claim(const QString& path, OutputKind kind, const QString& signedFile);

private:
    struct Owner {
        OutputKind kind;
        QString signedFile;
    };
    std::mutex mutex_;
    std::map<QString, Owner> taken_; // by the path's absolute, clean form
};

// `path` made absolute (against the current folder, read as bytes) and
// clean, for comparing names.
QString comparablePath(const QString& path);

} // namespace selavia::cli
