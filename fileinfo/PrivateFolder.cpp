#include "fileinfo/PrivateFolder.h"

#include <QDir>
#include <cstdlib>

namespace selavia::fileinfo {

std::optional<PrivateFolder> PrivateFolder::create(const QString& base)
{
    const QString parent = base.isEmpty() ? QDir::tempPath() : base;
    QByteArray pattern = QFile::encodeName(QDir(parent).filePath(QStringLiteral("selavia-XXXXXX")));
    // mkdtemp makes the name unique and the mode 0700 in one step.
    if (mkdtemp(pattern.data()) == nullptr)
        return std::nullopt;
    return PrivateFolder(QFile::decodeName(pattern));
}

void PrivateFolder::remove() const
{
    if (!path_.isEmpty())
        QDir(path_).removeRecursively();
}

} // namespace selavia::fileinfo
