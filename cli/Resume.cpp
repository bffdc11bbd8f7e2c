#include "cli/Resume.h"

#include "cli/ExitStatus.h"
#include "fileinfo/PathText.h"
#include "fileinfo/StagedFile.h"
#include "platform/signature/SummingInput.h"
#include "verify/Verdict.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace selavia::cli {
namespace {

using fileinfo::encodePath;
using fileinfo::printableText;

std::array<std::uint8_t, 16> prefixOf(const QByteArray& sha256)
{
    std::array<std::uint8_t, 16> prefix{};
    std::memcpy(prefix.data(), sha256.constData(), std::min<qsizetype>(sha256.size(), 16));
    return prefix;
}

// The SHA-256 of the file at `path`; empty when it cannot be read whole.
QByteArray sumOf(const QString& path)
{
    const int fd = ::open(encodePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    signature::Sha256 sum;
    std::vector<char> block(1 << 18);
    bool whole = true;
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            whole = false;
        if (got <= 0)
            break;
        sum.add(QByteArrayView(block.data(), got));
    }
    ::close(fd);
    return whole ? sum.result() : QByteArray();
}

QString cannot(const QString& path)
{
    return QStringLiteral("Não foi possível usar %1 para retomar: %2")
        .arg(printableText(path), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

int statusOfLine(bool verified, bool signaturesOk, const QString& verdict)
{
    if (!verified)
        return exit_status::kVerificationFailed;
    return signaturesOk && verdict != verify::verdictWord(verify::Verdict::Rejected)
               ? exit_status::kSignaturesOk
               : exit_status::kNotAllValid;
}

std::uint64_t ResumeFile::nameKey(const QString& fileValue)
{
    const QByteArray digest = signature::Sha256::of(fileValue.toUtf8());
    std::uint64_t key = 0;
    std::memcpy(&key, digest.constData(), sizeof key);
    return key;
}

void ResumeFile::add(const QByteArray& line)
{
    const QJsonObject report = QJsonDocument::fromJson(line).object();
    const QByteArray sum = QByteArray::fromHex(report["file_sha256"].toString().toLatin1());
    const bool unread = report["file_sha256"].isNull();
    if (!report["file"].isString() || (sum.size() != 32 && !unread))
        return; // not a line of ours: its file is verified again
    entries_.push_back(Entry{nameKey(report["file"].toString()), prefixOf(sum),
                             static_cast<std::uint8_t>(statusOfLine(
                                 report["verified"].toBool(), report["signatures_ok"].toBool(),
                                 report["verdict"].toString())),
                             unread});
}

std::unique_ptr<ResumeFile> ResumeFile::open(const QString& path, QString& problem)
{
    std::unique_ptr<ResumeFile> file(new ResumeFile);
    file->fd_ = ::open(encodePath(path).constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (file->fd_ < 0) {
        problem = cannot(path);
        return nullptr;
    }
    // Two runs appending to one file would each verify what the other is
    // verifying; the second is refused instead.
    if (::flock(file->fd_, LOCK_EX | LOCK_NB) != 0) {
        problem = errno == EWOULDBLOCK
                      ? QStringLiteral("%1 já está sendo usado por outra execução.")
                            .arg(printableText(path))
                      : cannot(path);
        return nullptr;
    }
    QByteArray pending;
    qint64 offset = 0;
    qint64 complete = 0; // where the last complete line ends
    std::vector<char> block(1 << 18);
    for (;;) {
        const ssize_t got = ::pread(file->fd_, block.data(), block.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            problem = cannot(path);
            return nullptr;
        }
        if (got == 0)
            break;
        offset += got;
        pending.append(block.data(), got);
        qsizetype start = 0;
        for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1) {
            file->add(pending.sliced(start, end - start));
            complete += end - start + 1;
        }
        pending.remove(0, start);
    }
    if (offset > complete) {
        if (::ftruncate(file->fd_, complete) != 0) {
            problem = cannot(path);
            return nullptr;
        }
        file->cut_ = offset - complete;
    }
    std::sort(file->entries_.begin(), file->entries_.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return file;
}

ResumeFile::~ResumeFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<int> ResumeFile::done(const QString& path) const
{
    const std::uint64_t name = nameKey(fileinfo::withBytesEscaped(path));
    auto [first, last] =
        std::equal_range(entries_.begin(), entries_.end(), Entry{name, {}, 0, false},
                         [](const Entry& a, const Entry& b) { return a.name < b.name; });
    if (first == last)
        return std::nullopt;
    const QByteArray sum = sumOf(path);
    const std::array<std::uint8_t, 16> bytes = prefixOf(sum);
    // A file changed and verified again has a line for each of its versions.
    for (auto entry = first; entry != last; ++entry) {
        if (sum.isEmpty() ? entry->unread : !entry->unread && entry->bytes == bytes)
            return entry->status;
    }
    return std::nullopt;
}

bool ResumeFile::append(const QByteArray& line)
{
    return !fileinfo::WriteAll(fd_, line).has_value();
}

} // namespace selavia::cli
