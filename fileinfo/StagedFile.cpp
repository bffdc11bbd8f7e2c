#include "fileinfo/StagedFile.h"

#include "fileinfo/PathText.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace selavia::fileinfo {
namespace {

template <typename Call> auto retryOnEintr(Call call)
{
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash + 1);
}

// A new file under `folder` named ".<name>.XXXXXX", made with O_EXCL so it
// can be neither an existing file nor a planted link.
std::variant<std::pair<UniqueFd, QByteArray>, FileError> createHidden(const QByteArray& folder,
                                                                      const QByteArray& name)
{
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray suffix(6, '\0');
        for (char& c : suffix)
            c = kLetters[QRandomGenerator::global()->bounded(int(sizeof(kLetters) - 1))];
        QByteArray path = folder + '.' + name + '.' + suffix;
        // 0666: the kernel applies the umask (and a default ACL) as it would
        // for the target itself.
        UniqueFd fd(retryOnEintr([&] {
            return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        }));
        if (fd.valid())
            return std::pair(std::move(fd), std::move(path));
        if (errno != EEXIST)
            return ErrorFromErrno(errno);
    }
    return MakeFileError(error_number::kPathFileAccess);
}

} // namespace

std::variant<StagedFile, FileError> StagedFile::create(const QString& target)
{
    const QByteArray encoded = encodePath(target);
    if (encoded.isEmpty() || encoded.endsWith('/'))
        return MakeFileError(error_number::kPathFileAccess);
    const QByteArray folder = folderOf(encoded);
    auto made = createHidden(folder, encoded.mid(folder.size()));
    if (auto* failure = std::get_if<FileError>(&made))
        return *failure;
    auto& [fd, path] = std::get<0>(made);
    return StagedFile(std::move(fd), decodePath(path));
}

std::variant<StagedFile, FileError> StagedFile::createIn(const QString& folder)
{
    QByteArray encoded = encodePath(folder);
    if (!encoded.endsWith('/'))
        encoded += '/';
    auto made = createHidden(encoded, "selavia-copia");
    if (auto* failure = std::get_if<FileError>(&made))
        return *failure;
    auto& [fd, path] = std::get<0>(made);
    return StagedFile(std::move(fd), decodePath(path));
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept
{
    if (this != &other) {
        discard();
        fd_ = std::move(other.fd_);
        path_ = std::move(other.path_);
    }
    return *this;
}

StagedFile::~StagedFile()
{
    discard();
}

void StagedFile::discard()
{
    fd_.reset();
    if (!path_.isEmpty())
        ::unlink(encodePath(path_).constData());
    path_.clear();
}

std::optional<FileError> StagedFile::fail(int err)
{
    discard();
    return ErrorFromErrno(err);
}

std::optional<FileError> WriteAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t wrote = retryOnEintr(
            [&] { return ::write(fd, bytes.data(), static_cast<size_t>(bytes.size())); });
        if (wrote <= 0)
            return ErrorFromErrno(wrote < 0 ? errno : EIO);
        bytes = bytes.sliced(wrote);
    }
    return std::nullopt;
}

std::optional<FileError> StagedFile::write(QByteArrayView bytes)
{
    return WriteAll(fd_.get(), bytes);
}

bool EntryMayExist(const QString& path)
{
    struct stat entry {};
    if (::lstat(encodePath(path).constData(), &entry) == 0)
        return true;
    return errno != ENOENT && errno != ENOTDIR;
}

namespace {

// Puts `from` at `to` only where nothing is: the kernel decides atomically,
// and a link at `to`, dangling or not, counts as something.
int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // File systems without the flag: a hard link fails on any existing entry too.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

} // namespace

std::optional<FileError> StagedFile::commit(const QString& target, Replace replace)
{
    const QByteArray to = encodePath(target);
    struct stat existing {};
    const bool exists = ::lstat(to.constData(), &existing) == 0;
    const int lookup = exists ? 0 : errno;
    // An entry whose existence cannot be told counts as one.
    if (replace == Replace::Never && (exists || (lookup != ENOENT && lookup != ENOTDIR))) {
        discard();
        return MakeFileError(error_number::kFileExists);
    }
    if (!exists && lookup != ENOENT)
        return fail(lookup);
    // Renaming over a folder, FIFO or device would replace it with a file.
    if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
        discard();
        return MakeFileError(error_number::kPathFileAccess);
    }
    if (exists && S_ISREG(existing.st_mode)) {
        // Keep the owner where allowed (an administrator saving a user's
        // file) and the read/write bits; never carry an execute bit over.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            [[maybe_unused]] const int ignored =
                ::fchown(fd_.get(), existing.st_uid, existing.st_gid);
        }
        if (::fchmod(fd_.get(), existing.st_mode & 0666) != 0)
            return fail(errno);
    }
    if (!fd_.closeChecked())
        return fail(errno);
    const QByteArray from = encodePath(path_);
    // rename() replaces the entry itself: a link is replaced, never followed.
    const int err = replace == Replace::Never
                        ? renameNoReplace(from, to)
                        : (::rename(from.constData(), to.constData()) == 0 ? 0 : errno);
    if (err != 0) {
        discard();
        return err == EEXIST ? MakeFileError(error_number::kFileExists) : ErrorFromErrno(err);
    }
    path_.clear();
    return std::nullopt;
}

StagedWriter::StagedWriter(StagedFile file)
    : file_(std::move(file)), pipe_([this](QByteArrayView block) {
          failure_ = file_.write(block);
          return !failure_.has_value();
      })
{
}

StagedWriter::~StagedWriter()
{
    (void)finish();
}

void StagedWriter::append(QByteArrayView block)
{
    pipe_.append(block);
}

std::optional<FileError> StagedWriter::finish()
{
    pipe_.finish();
    return failure_;
}

} // namespace selavia::fileinfo
