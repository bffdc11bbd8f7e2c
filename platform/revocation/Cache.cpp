#include "Cache.h"

#include "fileinfo/StagedFile.h"
#include "fileinfo/UniqueFd.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace selavia::revocation {
namespace {

// Pieces of writes that never finished (a process that died) go after this.
constexpr time_t kStalePartSeconds = 3600;
const char* const kPartPrefix = ".part-";

struct FolderState {
    bool usable = false;
    bool own = false;     // ours, and ours to write
    bool suspect = false; // others could write it without a sticky bit
};

// Our own folder is private to us: created 0700, or tightened when it
// exists. Any other folder is only read.
FolderState preparedFolder(const QByteArray& path)
{
    FolderState state;
    if (path.isEmpty())
        return state;
    QDir().mkpath(QFileInfo(QFile::decodeName(path)).path());
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return state;
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return state;
    state.usable = true;
    state.own = info.st_uid == ::geteuid() && (info.st_mode & S_IWUSR) != 0;
    if (!state.own)
        return state;
    // Without the sticky bit, whoever may write the folder may also rename
    // or replace our entries.
    state.suspect = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0;
    state.usable = (info.st_mode & 077) == 0 || ::chmod(path.constData(), 0700) == 0;
    return state;
}

struct Entry {
    QByteArray name;
    off_t size = 0;
    timespec used{};
};

QByteArray stemOf(const QByteArray& name)
{
    const qsizetype dot = name.indexOf('.');
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

Cache::Cache(const QString& folder, qint64 capBytes) : folder_(folder), cap_(capBytes)
{
    const FolderState state = preparedFolder(QFile::encodeName(folder));
    if (state.usable)
        mode_ = state.own ? Mode::Private : Mode::Shared;
    entriesSuspect_ = state.suspect;
}

QString Cache::stemFor(const QByteArray& kind, const QByteArray& url)
{
    return QString::fromLatin1(
        kind + '-' + QCryptographicHash::hash(url, QCryptographicHash::Sha256).toHex().left(40));
}

std::optional<QByteArray> Cache::read(const QString& name, qint64 maxBytes) const
{
    if (mode_ == Mode::None || entriesSuspect_)
        return std::nullopt;
    const QByteArray path = QFile::encodeName(QDir(folder_).filePath(name));
    // Non-blocking: a FIFO planted as an entry would otherwise hold the open
    // until someone writes to it; it is then refused as not a regular file.
    const fileinfo::UniqueFd file(
        ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid())
        return std::nullopt;
    const int fd = file.get();
    struct stat info {};
    std::optional<QByteArray> bytes;
    // In our own folder, an entry someone else made is not ours to believe.
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool owner = mode_ == Mode::Shared || info.st_uid == ::geteuid();
    if (regular && owner && info.st_size <= maxBytes) {
        QByteArray content(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
        qsizetype done = 0;
        while (done < content.size()) {
            const ssize_t got =
                ::read(fd, content.data() + done, static_cast<size_t>(content.size() - done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
        if (done == content.size())
            bytes = std::move(content);
        // The time of last use orders eviction; a shared folder is not ours
        // to touch.
        if (mode_ == Mode::Private)
            ::futimens(fd, nullptr);
    }
    return bytes;
}

std::optional<QByteArray> Cache::identity(const QString& name) const
{
    if (mode_ == Mode::None || entriesSuspect_)
        return std::nullopt;
    const QByteArray path = QFile::encodeName(QDir(folder_).filePath(name));
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (mode_ == Mode::Private && info.st_uid != ::geteuid()))
        return std::nullopt;
    return QByteArray::number(quint64(info.st_dev)) + ':' +
           QByteArray::number(quint64(info.st_ino)) + ':' +
           QByteArray::number(qint64(info.st_size)) + ':' +
           QByteArray::number(qint64(info.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(info.st_ctim.tv_nsec));
}

bool Cache::write(const QString& name, QByteArrayView bytes) const
{
    if (mode_ != Mode::Private)
        return false;
    const QDir folder(folder_);
    QByteArray part =
        QFile::encodeName(folder.filePath(QLatin1String(kPartPrefix) + name)) + ".XXXXXX";
    fileinfo::UniqueFd file(::mkostemp(part.data(), O_CLOEXEC));
    if (!file.valid())
        return false;
    // A write-back failure reported only at close leaves no short list in
    // the cache.
    const bool written = !fileinfo::WriteAll(file.get(), bytes) && file.closeChecked();
    const QByteArray path = QFile::encodeName(folder.filePath(name));
    if (!written || ::rename(part.constData(), path.constData()) != 0) {
        ::unlink(part.constData());
        return false;
    }
    evict();
    return true;
}

void Cache::remove(const QString& name) const
{
    if (mode_ == Mode::Private)
        ::unlink(QFile::encodeName(QDir(folder_).filePath(name)).constData());
}

void Cache::evict() const
{
    const QByteArray path = QFile::encodeName(folder_);
    DIR* directory = ::opendir(path.constData());
    if (directory == nullptr)
        return;
    std::vector<Entry> entries;
    qint64 total = 0;
    const time_t now = ::time(nullptr);
    while (const dirent* item = ::readdir(directory)) {
        struct stat info {};
        if (::fstatat(::dirfd(directory), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        const QByteArray name(item->d_name);
        if (name.startsWith(kPartPrefix)) {
            if (now - info.st_mtim.tv_sec > kStalePartSeconds)
                ::unlinkat(::dirfd(directory), item->d_name, 0);
            continue;
        }
        entries.push_back({name, info.st_size, info.st_mtim});
        total += info.st_size;
    }
    if (total > cap_) {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                                  : a.used.tv_nsec < b.used.tv_nsec;
        });
        // A list goes with its index: evicting by stem.
        for (std::size_t i = 0; i < entries.size() && total > cap_; ++i) {
            const QByteArray stem = stemOf(entries[i].name);
            for (Entry& entry : entries) {
                if (entry.size >= 0 && stemOf(entry.name) == stem) {
                    ::unlinkat(::dirfd(directory), entry.name.constData(), 0);
                    total -= entry.size;
                    entry.size = -1;
                }
            }
        }
    }
    ::closedir(directory);
}

} // namespace selavia::revocation
