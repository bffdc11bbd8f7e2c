#pragma once

// Names that are not UTF-8 go by their bytes: Qt can neither make, list
// nor remove them, so the tests that use such names do it here.

#include "fileinfo/PathText.h"

#include <QString>
#include <dirent.h>
#include <filesystem>
#include <set>
#include <string>

namespace selavia::testing {

// The path, as the program holds it, of the entry of `folder` whose name
// is the bytes `name`.
inline QString rawPath(const QString& folder, const QByteArray& name)
{
    return fileinfo::decodePath(fileinfo::encodePath(folder) + '/' + name);
}

// The names in `folder`, as bytes, without the hidden ones.
inline std::set<std::string> rawEntries(const QString& folder)
{
    std::set<std::string> names;
    if (DIR* stream = ::opendir(fileinfo::encodePath(folder).constData())) {
        while (const dirent* entry = ::readdir(stream)) {
            if (entry->d_name[0] != '.')
                names.insert(entry->d_name);
        }
        ::closedir(stream);
    }
    return names;
}

// Removes `folder` and all within it, whatever their names.
inline void removeRaw(const QString& folder)
{
    std::error_code ignored;
    std::filesystem::remove_all(fileinfo::encodePath(folder).toStdString(), ignored);
}

} // namespace selavia::testing
