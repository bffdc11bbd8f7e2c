#pragma once

// The user's secret that seals the cache's indexes: kept outside the cache
// folder, so that whoever may write the folder cannot forge an index that
// says a certificate is not listed.

#include <QByteArray>
#include <QString>
#include <optional>

namespace selavia::revocation {

// The key in `path`, made (32 random bytes, 0600, in a 0700 folder) the
// first time; nullopt when there is none to be had or the file is not the
// user's own private regular file.
std::optional<QByteArray> cacheKey(const QString& path);

} // namespace selavia::revocation
