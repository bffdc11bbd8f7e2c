#include "CacheKey.h"

#include "fileinfo/UniqueFd.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

namespace selavia::revocation {
namespace {

constexpr int kKeyBytes = 32;

// The key only when the file is ours alone: a key others may read or
// replace seals nothing.
std::optional<QByteArray> readKey(const QByteArray& path)
{
    const fileinfo::UniqueFd file(
        ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 077) != 0 || info.st_size != kKeyBytes)
        return std::nullopt;
    QByteArray key(kKeyBytes, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < key.size()) {
        const ssize_t got = ::read(file.get(), key.data() + done, size_t(key.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        done += got;
    }
    return key;
}

// Written beside and linked into place: two processes starting at once
// agree on whichever key came first.
void makeKey(const QByteArray& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(path)).path());
    QDir().mkpath(QFile::decodeName(folder));
    ::chmod(folder.constData(), 0700);
    QByteArray key(kKeyBytes, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(key.data()), kKeyBytes) != 1)
        return;
    QByteArray part = path + ".part-XXXXXX";
    fileinfo::UniqueFd file(::mkostemp(part.data(), O_CLOEXEC));
    if (!file.valid())
        return;
    const bool written = ::fchmod(file.get(), 0600) == 0 &&
                         ::write(file.get(), key.constData(), kKeyBytes) == kKeyBytes &&
                         file.closeChecked();
    if (written)
        ::link(part.constData(), path.constData());
    ::unlink(part.constData());
}

} // namespace

std::optional<QByteArray> cacheKey(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(encoded.constData(), &info) != 0 && errno == ENOENT)
        makeKey(encoded);
    return readKey(encoded);
}

} // namespace selavia::revocation
