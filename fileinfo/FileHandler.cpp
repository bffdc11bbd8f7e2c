#include "fileinfo/FileHandler.h"

#include "fileinfo/PathText.h"
#include "fileinfo/StagedFile.h"
#include "selavia/SignedFileType.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QMimeType>
#include <QRandomGenerator>
#include <QStringList>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace selavia::fileinfo {

namespace {

// The attribute words of the properties panel, kept as the numbers the
// panel's table was written for.
namespace attribute {
constexpr int kReadOnly = 1;
constexpr int kHidden = 2;
constexpr int kSystem = 4;
constexpr int kVolume = 8;
constexpr int kDirectory = 16;
constexpr int kArchive = 32;
constexpr int kAlias = 1024;
constexpr int kCompressed = 2048;
} // namespace attribute

} // namespace

namespace {

// Failures of looking at an existing file: a missing one and a folder are
// both "not found", as the properties panel only shows files.
FileError LookupError(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return MakeFileError(error_number::kFileNotFound);
    case EACCES:
    case EPERM:
        return MakeFileError(error_number::kPermissionDenied);
    default:
        return MakeFileError(error_number::kPathFileAccess);
    }
}

// Retries a system call interrupted by a signal.
template <typename Call> auto RetryOnEintr(Call call)
{
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

// The last component of `path` as written (no trailing separator handling:
// callers pass paths that name files).
QString LastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

// `name` as the folder `dir` lists it: the exact entry when there is one,
// else an entry differing only in case (a case-insensitive mount accepts
// any spelling). The given name when the folder cannot be listed.
QString ListedName(const QByteArray& dir, const QString& name)
{
    const QByteArray encoded = encodePath(name);
    DIR* stream = ::opendir(dir.isEmpty() ? "/" : dir.constData());
    if (stream == nullptr) {
        return name;
    }
    QString caseless;
    bool exact = false;
    while (const dirent* entry = ::readdir(stream)) {
        if (encoded == entry->d_name) {
            exact = true;
            break;
        }
        if (caseless.isEmpty()) {
            const QString candidate = decodePath(entry->d_name);
            if (candidate.compare(name, Qt::CaseInsensitive) == 0) {
                caseless = candidate;
            }
        }
    }
    ::closedir(stream);
    if (exact || caseless.isEmpty()) {
        return name;
    }
    return caseless;
}

QString ListedFileName(const QString& path)
{
    const QString name = LastComponent(path);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QByteArray dir;
    if (slash < 0) {
        dir = ".";
    } else {
        dir = encodePath(path.left(slash));
    }
    return ListedName(dir, name);
}

int AttributeWord(const struct stat& own, const QString& name)
{
    int word = 0;
    if (S_ISDIR(own.st_mode)) {
        word |= attribute::kDirectory;
    }
    if (S_ISLNK(own.st_mode)) {
        word |= attribute::kAlias;
    }
    if ((own.st_mode & S_IWUSR) == 0) {
        word |= attribute::kReadOnly;
    }
    if (name.startsWith(QLatin1Char('.'))) {
        word |= attribute::kHidden;
    }
    return word == 0 ? attribute::kArchive : word;
}

QString AttributeText(int word)
{
    // The whole word is compared: a combination the table has no row for
    // (read-only and hidden, say) shows nothing.
    switch (word) {
    case 0:
        return QStringLiteral("Arquivo Normal");
    case attribute::kReadOnly:
        return QStringLiteral("Somente Leitura");
    case attribute::kHidden:
        return QStringLiteral("Arquivo Oculto");
    case attribute::kSystem:
        return QStringLiteral("Arquivo do Sistema");
    case attribute::kVolume:
        return QStringLiteral("Diretório");
    case attribute::kDirectory:
        return QStringLiteral("Pasta");
    case attribute::kArchive:
        return QStringLiteral("Arquivo Normal");
    case attribute::kAlias:
        return QStringLiteral("Atalho ou Link");
    case attribute::kCompressed:
        return QStringLiteral("Arquivo Compactado");
    default:
        return {};
    }
}

// The fallback type's description varies with the shared MIME data and the
// language; the panel always says "Desconhecido" for it.
bool Describes(const QMimeType& type)
{
    return type.isValid() && !type.isDefault() && !type.comment().isEmpty();
}

const QString kUnknownType = QStringLiteral("Desconhecido");

QString TypeName(const QString& path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    return Describes(type) ? type.comment() : kUnknownType;
}

// By the name first: the content alone would call a .slv by what it carries
// (a PDF inside the signature is enough to make it "Documento PDF").
QString SignedFileTypeName(const QString& path)
{
    const QString byName = TypeNameByName(path);
    return byName.isEmpty() ? TypeName(path) : byName;
}

QDateTime FromTimespec(const timespec& moment)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(moment.tv_sec) * 1000 + moment.tv_nsec / 1000000);
}

// Removes the time-zone field of a Qt time format together with the
// brackets around it and the blank or comma that separates it, so "HH:mm:ss
// t", "HH:mm:ss (t)" and "t HH:mm:ss" all become "HH:mm:ss".
QString WithoutTimeZone(const QString& format)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (quoted || c != QLatin1Char('t')) {
            out += c;
            continue;
        }
        qsizetype end = i;
        while (end < format.size() && format.at(end) == QLatin1Char('t')) {
            ++end;
        }
        // Enclosing "(t)" or "[t]".
        if (!out.isEmpty() && end < format.size() &&
            ((out.back() == QLatin1Char('(') && format.at(end) == QLatin1Char(')')) ||
             (out.back() == QLatin1Char('[') && format.at(end) == QLatin1Char(']')))) {
            out.chop(1);
            ++end;
        }
        const qsizetype before = out.size();
        while (!out.isEmpty() && (out.back().isSpace() || out.back() == QLatin1Char(','))) {
            out.chop(1);
        }
        if (out.size() == before) {
            while (end < format.size() && format.at(end).isSpace()) {
                ++end;
            }
        }
        i = end - 1;
    }
    return out.trimmed();
}

enum class TypeRule { Content, NameFirst };

QString Property(const QString& path, int selector, const FileErrorReporter& reporter,
                 TypeRule typeRule)
{
    const QByteArray encoded = encodePath(path);
    struct stat target {};
    // Looked up on every call, whatever the selector: a file removed since
    // the last call is reported, not described from stale data.
    int failure = 0;
    if (encoded.isEmpty()) {
        failure = ENOENT;
    } else if (::stat(encoded.constData(), &target) != 0) {
        failure = errno;
    } else if (!S_ISREG(target.st_mode)) {
        failure = ENOENT;
    }
    if (failure != 0) {
        if (reporter) {
            reporter(LookupError(failure));
        }
        return {};
    }

    switch (static_cast<FileProperty>(selector)) {
    case FileProperty::SizeBytes:
        return QString::number(qint64(target.st_size));
    case FileProperty::FileName:
        return ListedFileName(path);
    case FileProperty::BaseName:
        return ListedFileName(path).section(QLatin1Char('.'), 0, 0);
    case FileProperty::Extension: {
        // Taken from the path as given: a dotted folder name with an
        // extensionless file yields the tail after the folder's dot.
        const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
        return dot < 0 ? path : path.mid(dot + 1);
    }
    case FileProperty::SizeText:
        return SizeText(qint64(target.st_size));
    case FileProperty::TypeName:
        return typeRule == TypeRule::NameFirst ? SignedFileTypeName(path) : TypeName(path);
    case FileProperty::Location:
        return QDir::cleanPath(QFileInfo(path).absolutePath());
    case FileProperty::AttributeText: {
        struct stat own {};
        if (::lstat(encoded.constData(), &own) != 0) {
            own = target;
        }
        return AttributeText(AttributeWord(own, ListedFileName(path)));
    }
    case FileProperty::DateCreated: {
        const QDateTime born = QFileInfo(path).birthTime();
        return GeneralDateText(born.isValid() ? born : FromTimespec(target.st_mtim));
    }
    case FileProperty::DateLastAccessed:
        return GeneralDateText(FromTimespec(target.st_atim));
    case FileProperty::DateLastModified:
        return GeneralDateText(FromTimespec(target.st_mtim));
    }
    return {};
}

} // namespace

QString GetFileProperty(const QString& path, int selector, const FileErrorReporter& reporter)
{
    return Property(path, selector, reporter, TypeRule::Content);
}

QString GetSignedFileProperty(const QString& path, FileProperty selector,
                              const FileErrorReporter& reporter)
{
    return Property(path, static_cast<int>(selector), reporter, TypeRule::NameFirst);
}

// The program's own type included: an uninstalled build's MIME database
// does not know it.
QString TypeNameByName(const QString& fileName)
{
    const QMimeDatabase database;
    const QMimeType byName = database.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (Describes(byName)) {
        return byName.comment();
    }
    if (LastComponent(fileName).endsWith(QLatin1Char('.') + QLatin1String(signed_type::kSuffix),
                                         Qt::CaseInsensitive)) {
        const QMimeType installed =
            database.mimeTypeForName(QString::fromLatin1(signed_type::kMimeType));
        return Describes(installed) ? installed.comment()
                                    : QString::fromUtf8(signed_type::kDescription);
    }
    return {};
}

QString TypeNameOfName(const QString& fileName)
{
    const QString byName = TypeNameByName(fileName);
    return byName.isEmpty() ? kUnknownType : byName;
}

std::optional<RegularFile> RegularFile::open(const QString& path, FileError* why)
{
    const auto refused = [why](FileError error) -> std::optional<RegularFile> {
        if (why != nullptr) {
            *why = std::move(error);
        }
        return std::nullopt;
    };
    const QByteArray encoded = encodePath(path);
    if (encoded.isEmpty()) {
        return refused(ReadErrorFromErrno(ENOENT));
    }
    // O_NONBLOCK: opening a FIFO without a writer must not hang; the type is
    // checked on the open descriptor so it cannot change in between.
    UniqueFd fd(RetryOnEintr(
        [&] { return ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return refused(ReadErrorFromErrno(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return refused(ReadErrorFromErrno(EISDIR));
    }
    if (!S_ISREG(info.st_mode)) {
        return refused(FileError{error_number::kPathFileAccess,
                                 QStringLiteral("Não é um arquivo comum (é um dispositivo, uma "
                                                "fila ou um soquete)")});
    }
    return RegularFile(std::move(fd), info.st_size);
}

QByteArray ReadFileBytes(const QString& path)
{
    std::optional<RegularFile> file = RegularFile::open(path);
    if (!file) {
        return {};
    }
    const int fd = file->descriptor();
    const qint64 size = file->size();

    constexpr qsizetype kBlock = 1 << 20;
    constexpr qsizetype kLargest = std::numeric_limits<qsizetype>::max() / 2;
    QByteArray content;
    if (size > 0 && size < kLargest) {
        content.reserve(qsizetype(size));
    }
    qsizetype used = 0;
    // Read to the end of file rather than to the size seen at open: a file
    // that grows or shrinks meanwhile gives what was there.
    for (;;) {
        if (content.size() - used < kBlock) {
            if (kLargest - used < kBlock) {
                return {};
            }
            content.resize(used + kBlock);
        }
        const ssize_t got =
            RetryOnEintr([&] { return ::read(fd, content.data() + used, size_t(kBlock)); });
        if (got < 0) {
            return {};
        }
        if (got == 0) {
            break;
        }
        used += got;
    }
    content.truncate(used);
    return content;
}

std::optional<FileError> WriteFileBytes(const QString& path, const QByteArray& data)
{
    auto staged = StagedFile::create(path);
    if (auto* failure = std::get_if<FileError>(&staged)) {
        return *failure;
    }
    StagedFile& file = std::get<StagedFile>(staged);
    if (auto failure = file.write(data)) {
        return failure;
    }
    return file.commit(path, Replace::Entry);
}

bool FileExists(const QString& path)
{
    const QByteArray encoded = encodePath(path);
    struct stat info {};
    return !encoded.isEmpty() && ::stat(encoded.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

QString GetLongPath(const QString& path)
{
    if (path.isEmpty()) {
        return {};
    }
    QString absolute = path;
    if (!absolute.startsWith(QLatin1Char('/'))) {
        const QString current = QDir::currentPath();
        if (current.isEmpty()) {
            return {};
        }
        absolute = current + QLatin1Char('/') + absolute;
    }

    // `walked` is the path as given so far, for the kernel to check each
    // step (so "missing/../x" fails); `result` is the same path with "."
    // and ".." resolved by text and each name spelled as listed.
    QByteArray walked;
    QStringList result;
    const QStringList components = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& component : components) {
        const QByteArray parent = walked;
        walked += '/' + encodePath(component);
        struct stat info {};
        if (::lstat(walked.constData(), &info) != 0) {
            return {};
        }
        if (component == QLatin1String(".")) {
            continue;
        }
        if (component == QLatin1String("..")) {
            if (!result.isEmpty()) {
                result.removeLast();
            }
            continue;
        }
        result.append(ListedName(parent, component));
    }
    return QLatin1Char('/') + result.join(QLatin1Char('/'));
}

namespace {
const QString kFixedDateFormat = QStringLiteral("dd/MM/yyyy HH:mm:ss");
}

QString UtcDateText(const QDateTime& moment)
{
    return moment.toUTC().toString(kFixedDateFormat) + QStringLiteral(" UTC");
}

QString LocalDateText(const QDateTime& moment)
{
    return moment.toLocalTime().toString(kFixedDateFormat);
}

QString UtcOffsetText(const QDateTime& moment)
{
    const int minutes = moment.toLocalTime().offsetFromUtc() / 60;
    return QStringLiteral("%1%2:%3")
        .arg(minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'));
}

QString ZonedDateText(const QDateTime& moment)
{
    if (!moment.isValid()) {
        return {};
    }
    return LocalDateText(moment) + QLatin1Char(' ') + UtcOffsetText(moment);
}

QString GeneralDateText(const QDateTime& moment)
{
    if (!moment.isValid()) {
        return {};
    }
    const QDateTime local = moment.toLocalTime();
    const QLocale locale;
    const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    const QTime time = local.time();
    // Compared to the second, as shown: a midnight stamp with milliseconds
    // still reads as a plain date.
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0) {
        return locale.toString(local.date(), dateFormat);
    }
    const QString timeFormat = WithoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    return locale.toString(local, dateFormat + QLatin1Char(' ') + timeFormat);
}

QString SizeText(qint64 bytes, const QLocale& locale)
{
    if (bytes < 0) {
        return {};
    }
    if (bytes < 1000) {
        return QString::number(bytes) + QStringLiteral(" Bytes");
    }
    // The unit follows the size before rounding, so 999999 bytes is
    // "1000 KB", not "1 MB".
    double step = 1e9;
    QString unit = QStringLiteral(" GB");
    if (bytes < 1000000) {
        step = 1e3;
        unit = QStringLiteral(" KB");
    } else if (bytes < 1000000000) {
        step = 1e6;
        unit = QStringLiteral(" MB");
    }
    const double quotient = double(bytes) / step;
    // nearbyint in the default rounding mode rounds halves to even.
    const double rounded = std::nearbyint(quotient * 100) / 100;
    QLocale numbers = locale;
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    return numbers.toString(rounded, 'f', QLocale::FloatingPointShortest) + unit;
}

std::optional<FileError> copySumming(const RegularFile& source, StagedFile& target,
                                     QByteArray& sha256, qint64 length)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 offset = 0;;) {
        const ssize_t got =
            ::pread(source.descriptor(), block.data(), static_cast<size_t>(block.size()), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return ErrorFromErrno(errno);
        if (got == 0)
            break;
        const QByteArrayView part(block.constData(), got);
        hash.addData(part);
        const qint64 wanted = length < 0 ? got : std::clamp<qint64>(length - offset, 0, got);
        if (wanted > 0) {
            if (auto failure = target.write(part.first(wanted)))
                return failure;
        }
        offset += got;
    }
    sha256 = hash.result();
    return std::nullopt;
}

} // namespace selavia::fileinfo
