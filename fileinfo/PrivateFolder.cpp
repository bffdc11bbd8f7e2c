#include "fileinfo/PrivateFolder.h"

#include "fileinfo/PathText.h"
#include "fileinfo/UniqueFd.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace selavia::fileinfo {
namespace {

constexpr std::string_view kPrefix = "selavia-";
constexpr size_t kRandomLength = 6; // mkdtemp's XXXXXX
// Our folders hold one file; anything deeper was not made by us.
constexpr int kMaxDepth = 8;

QString baseFolder(const QString& base)
{
    return base.isEmpty() ? QDir::tempPath() : base;
}

// The process id in a private folder's name, 0 when `name` is not one.
pid_t markedPid(std::string_view name)
{
    if (!name.starts_with(kPrefix))
        return 0;
    name.remove_prefix(kPrefix.size());
    const size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9 ||
        name.size() != dash + 1 + kRandomLength)
        return 0;
    pid_t pid = 0;
    for (char c : name.substr(0, dash)) {
        if (c < '0' || c > '9')
            return 0;
        pid = pid * 10 + (c - '0');
    }
    for (char c : name.substr(dash + 1)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return 0;
    }
    return pid;
}

bool removeEntry(int parentFd, const char* name, int depth);

// Empties the folder open as `fd`. The names are listed first, so removing
// entries cannot disturb the listing.
// The names in the folder open as `fd`, "." and ".." left out.
std::vector<std::string> listNames(int fd)
{
    std::vector<std::string> names;
    UniqueFd listFd(::dup(fd));
    DIR* listing = listFd.valid() ? ::fdopendir(listFd.get()) : nullptr;
    if (listing == nullptr)
        return names;
    (void)listFd.release(); // closedir closes it
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    return names;
}

void removeContents(int fd, int depth)
{
    for (const std::string& name : listNames(fd))
        removeEntry(fd, name.c_str(), depth + 1);
}

// Removes the entry `name` of the folder open as `parentFd`; a folder with
// what it holds, a link as the link itself.
bool removeEntry(int parentFd, const char* name, int depth)
{
    if (::unlinkat(parentFd, name, 0) == 0)
        return true;
    if ((errno != EISDIR && errno != EPERM) || depth > kMaxDepth)
        return false;
    const UniqueFd fd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return false;
    removeContents(fd.get(), depth);
    return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

} // namespace

std::variant<PrivateFolder, FileError> PrivateFolder::create(const QString& base)
{
    const QString name = QStringLiteral("selavia-%1-XXXXXX").arg(::getpid());
    QByteArray pattern = encodePath(QDir(baseFolder(base)).filePath(name));
    // mkdtemp makes the name unique and the mode 0700 in one step.
    if (::mkdtemp(pattern.data()) == nullptr)
        return ErrorFromErrno(errno);
    return PrivateFolder(decodePath(pattern));
}

int PrivateFolder::removeStale(const QString& base)
{
    const UniqueFd baseFd(
        ::open(encodePath(baseFolder(base)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!baseFd.valid())
        return 0;
    int removed = 0;
    for (const std::string& name : listNames(baseFd.get())) {
        const pid_t pid = markedPid(name);
        if (pid <= 0 || !processGone(pid))
            continue;
        // Opened without following a link, then checked through the open
        // folder, so what is emptied is what was checked.
        const UniqueFd fd(
            ::openat(baseFd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat folder {};
        const bool ours = fd.valid() && ::fstat(fd.get(), &folder) == 0 &&
                          S_ISDIR(folder.st_mode) && folder.st_uid == ::geteuid();
        if (!ours)
            continue;
        removeContents(fd.get(), 0);
        if (::unlinkat(baseFd.get(), name.c_str(), AT_REMOVEDIR) == 0)
            ++removed;
    }
    return removed;
}

bool PrivateFolder::intact() const
{
    struct stat folder {};
    return ::lstat(encodePath(path_).constData(), &folder) == 0 && S_ISDIR(folder.st_mode) &&
           folder.st_uid == ::geteuid() && (folder.st_mode & 077) == 0;
}

void PrivateFolder::remove() const
{
    if (path_.isEmpty())
        return;
    const QFileInfo folder(path_);
    const UniqueFd parentFd(
        ::open(encodePath(folder.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parentFd.valid())
        removeEntry(parentFd.get(), encodePath(folder.fileName()).constData(), 0);
}

} // namespace selavia::fileinfo
