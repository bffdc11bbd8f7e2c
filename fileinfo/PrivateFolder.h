#pragma once

#include <QString>
#include <optional>

namespace selavia::fileinfo {

// A folder only this user can enter (mode 0700), unique to this run, for
// the temporary copy of the original document. Removing it takes the copy
// with it.
class PrivateFolder {
public:
    // Under `base`, or under the platform's temporary folder when `base` is
    // empty. nullopt when the folder cannot be made there.
    static std::optional<PrivateFolder> create(const QString& base);

    const QString& path() const { return path_; }
    // Removes the folder and what it holds; failures are ignored.
    void remove() const;

private:
    explicit PrivateFolder(QString path) : path_(std::move(path)) {}
    QString path_;
};

} // namespace selavia::fileinfo
