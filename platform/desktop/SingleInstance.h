#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace selavia::desktop {

// The previous-instance test: a per-user lock in the user's runtime folder,
// held for as long as this object lives and released when the process ends;
// a lock left by a process that is gone does not count.
class SingleInstance {
public:
    // `lockPath` empty: the program's lock in the user's runtime folder.
    explicit SingleInstance(const QString& lockPath = {});

    // True when no other instance holds the lock; this one holds it from now on.
    bool acquire();

    static QString defaultLockPath();

private:
    std::unique_ptr<QLockFile> lock_;
};

} // namespace selavia::desktop
