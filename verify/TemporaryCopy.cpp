#include "verify/TemporaryCopy.h"

#include <QDir>
#include <QFile>
#include <cstdio>

namespace selavia::verify {
namespace {

namespace error_number = fileinfo::error_number;

fileinfo::FileError changedSinceVerified()
{
    return {error_number::kPathFileAccess,
            QStringLiteral("A cópia temporária do documento foi alterada depois da verificação")};
}

} // namespace

TemporaryCopy::TemporaryCopy(QString base) : base_(std::move(base)) {}

TemporaryCopy::~TemporaryCopy()
{
    discard();
    if (folder_ && folder_->intact())
        folder_->remove();
}

std::optional<fileinfo::FileError> TemporaryCopy::makeFolder()
{
    // A folder removed or replaced behind our back is not written into.
    if (folder_ && folder_->intact())
        return std::nullopt;
    folder_.reset();
    auto made = fileinfo::PrivateFolder::create(base_);
    if (auto* failure = std::get_if<fileinfo::FileError>(&made))
        return *failure;
    folder_ = std::get<fileinfo::PrivateFolder>(std::move(made));
    return std::nullopt;
}

signature::ContentSink TemporaryCopy::stage()
{
    discard();
    failure_ = makeFolder();
    if (!failure_) {
        auto staged = fileinfo::StagedFile::createIn(folder_->path());
        if (auto* failure = std::get_if<fileinfo::FileError>(&staged))
            failure_ = *failure;
        else
            staging_ = std::make_shared<fileinfo::StagedWriter>(
                std::get<fileinfo::StagedFile>(std::move(staged)));
    }
    // The sink keeps its writer alive: a copy discarded while a verification
    // still holds the sink leaves it writing into a writer that is finished,
    // never into freed memory.
    return [writer = staging_](QByteArrayView block) {
        if (writer)
            writer->append(block);
    };
}

void TemporaryCopy::discard()
{
    if (staging_) {
        (void)staging_->finish();
        staging_.reset();
    }
}

std::optional<fileinfo::FileError> TemporaryCopy::place(const QString& name,
                                                        const QByteArray& sha256)
{
    name_ = name;
    sha256_ = sha256;
    placed_ = false;
    if (!staging_) {
        if (!failure_)
            failure_ = fileinfo::MakeFileError(error_number::kPathFileAccess);
        return failure_;
    }
    failure_ = staging_->finish();
    if (!failure_)
        failure_ = staging_->file().commit(path(), fileinfo::Replace::Entry);
    staging_.reset();
    placed_ = !failure_;
    return failure_;
}

std::optional<fileinfo::FileError> TemporaryCopy::rename(const QString& name)
{
    const QString from = path();
    const QString previous = name_;
    name_ = name;
    if (!placed_ || from == path())
        return failure_;
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(path()).constData()) != 0) {
        const fileinfo::FileError failure = fileinfo::ErrorFromErrno(errno);
        name_ = previous; // the copy keeps the name it has
        return failure;
    }
    return std::nullopt;
}

QString TemporaryCopy::path() const
{
    if (name_.isEmpty())
        return {};
    const QString folder = folder_ ? folder_->path() : (base_.isEmpty() ? QDir::tempPath() : base_);
    return folder + QLatin1Char('/') + name_;
}

bool TemporaryCopy::present() const
{
    return placed_ && folder_ && folder_->intact() && fileinfo::FileExists(path());
}

std::optional<fileinfo::FileError> TemporaryCopy::copyTo(const QString& target,
                                                         fileinfo::Replace replace)
{
    std::optional<fileinfo::RegularFile> source =
        present() ? fileinfo::RegularFile::open(path()) : std::nullopt;
    if (!source)
        return failure_ ? failure_ : fileinfo::MakeFileError(error_number::kFileNotFound);
    auto staged = fileinfo::StagedFile::create(target);
    if (auto* failure = std::get_if<fileinfo::FileError>(&staged))
        return *failure;
    fileinfo::StagedFile& file = std::get<fileinfo::StagedFile>(staged);
    QByteArray copied;
    if (auto failure = fileinfo::copySumming(*source, file, copied))
        return failure;
    if (copied != sha256_) {
        placed_ = false;
        failure_ = changedSinceVerified();
        return failure_;
    }
    return file.commit(target, replace);
}

} // namespace selavia::verify
