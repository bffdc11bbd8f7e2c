#pragma once

#include "fileinfo/FileHandler.h"

#include <QString>
#include <variant>

namespace selavia::fileinfo {

// A folder only this user can enter (mode 0700), unique to this run, for
// the temporary copy of the original document. Removing it takes the copy
// with it. Its name carries the process id ("selavia-<pid>-XXXXXX"), so a
// later run can tell a folder left by a run that ended abruptly.
class PrivateFolder {
public:
    // Under `base`, or under the platform's temporary folder when `base` is
    // empty; the failure when the folder cannot be made there.
    static std::variant<PrivateFolder, FileError> create(const QString& base);

    // Removes, under `base` (or the platform's temporary folder), the
    // private folders of this user whose process no longer runs, and
    // returns how many went. Other entries, links and folders of live or
    // unknown processes stay.
    static int removeStale(const QString& base);

    const QString& path() const { return path_; }
    // Whether the folder is still there as made: a folder, not a link,
    // owned by this user and closed to everyone else.
    bool intact() const;
    // Removes the folder and what it holds, never following a link;
    // failures are ignored.
    void remove() const;

private:
    explicit PrivateFolder(QString path) : path_(std::move(path)) {}
    QString path_;
};

} // namespace selavia::fileinfo
