#include "VerifiedDocument.h"

#include "fileinfo/FileHandler.h"
#include "platform/revocation/RevocationService.h"
#include "platform/signature/SignatureError.h"
#include "verify/DocumentName.h"

#include <exception>
#include <fcntl.h>
#include <future>
#include <unistd.h>

namespace selavia::verify {
namespace {

namespace sig = signature;
namespace error_number = fileinfo::error_number;

// Classes the signers, builds the tree and decides the document's name.
void describeSigners(VerifiedDocument& document)
{
    std::vector<CertificateClass> classes;
    int index = 0;
    for (const sig::Signer& signer : document.signedData->signers()) {
        document.signers.push_back(readSigner(signer, ++index));
        classes.push_back(document.signers.back().certificateClass);
        // Later signers replace the name of earlier ones.
        if (!document.signers.back().documentName.isEmpty())
            document.originalName = document.signers.back().documentName;
    }
    document.signaturesOk = signaturesOk(classes);
    document.tree = buildTree(document.signers);

    document.hasExtension = !document.originalName.isEmpty();
    // The signed file's own name may hold anything a file name can, line
    // breaks and reordering marks included: it is cleaned like a name from
    // inside the file.
    if (!document.hasExtension)
        document.originalName = sanitizedDocumentName(
            fileinfo::GetFileProperty(document.filePath, fileinfo::FileProperty::BaseName));
}

VerifiedDocument failed(VerifiedDocument document, const QString& codeText,
                        const QString& description)
{
    document.error = classifyVerificationError(codeText, description);
    document.signedData.reset();
    document.signers.clear();
    document.tree.clear();
    document.originalName.clear();
    document.hasExtension = false;
    document.signaturesOk = false;
    return document;
}

sig::PhaseProgress revocationProgress(const LoadProgress& progress)
{
    if (!progress)
        return {};
    return [progress](qint64 done, qint64 total) {
        return progress(LoadPhase::Revocation, done, total);
    };
}

// Runs `verify` on a fresh SignedData, whose certificates may ask the
// revocation sources the options allow, then the revocation phase; the
// rest of the document follows from what it verified.
template <typename Verify>
VerifiedDocument verifyWith(const QString& path, const LoadOptions& options,
                            const LoadProgress& progress, Verify verify)
{
    VerifiedDocument document;
    document.filePath = path;
    document.offline = options.revocation.offline;
    document.checkedAt = QDateTime::currentDateTimeUtc();
    auto signedData = std::make_shared<sig::SignedData>(
        options.trustStore, revocation::validationServices(options.revocation));
    try {
        verify(*signedData);
        if (!signedData->prepareValidation(revocationProgress(progress)))
            throw sig::SignatureError::of(sig::code::kCancelled);
    } catch (const sig::SignatureError& error) {
        return failed(std::move(document), error.codeText(), error.description());
    } catch (const std::exception&) {
        // Not a failure the services describe (out of memory, say): still a
        // failed verification, reported as an internal one.
        const auto error = sig::SignatureError::of(sig::code::kInternal);
        return failed(std::move(document), error.codeText(), error.description());
    }
    document.signedData = std::move(signedData);
    describeSigners(document);
    return document;
}

} // namespace

VerifiedDocument verifySignedBytes(const QString& path, QByteArrayView bytes,
                                   const LoadOptions& options)
{
    return verifyWith(path, options, {}, [&](sig::SignedData& data) { data.verify(bytes); });
}

VerifiedDocument loadSignedDocument(const QString& path, const LoadOptions& options,
                                    const LoadProgress& progress)
{
    std::optional<fileinfo::RegularFile> file = fileinfo::RegularFile::open(path);
    if (!file) {
        // A file that cannot be read gives no bytes, which the services
        // refuse as no signed message at all.
        return verifySignedBytes(path, QByteArrayView(), options);
    }
    sig::Progress hashing;
    if (progress)
        hashing = [&](qint64 done, qint64 total) {
            return progress(LoadPhase::Hashing, done, total);
        };
    return verifyWith(path, options, progress, [&](sig::SignedData& data) {
        data.verifyFile(file->descriptor(), file->size(), hashing);
    });
}

VerifiedDocument loadSignedDocument(const QString& path, const LoadOptions& options,
                                    const sig::Progress& progress)
{
    LoadProgress hashingOnly;
    if (progress)
        hashingOnly = [progress](LoadPhase phase, qint64 done, qint64 total) {
            return phase != LoadPhase::Hashing || progress(done, total);
        };
    return loadSignedDocument(path, options, hashingOnly);
}

namespace {

std::vector<fileinfo::FileRange> fileRanges(const std::vector<sig::ByteRange>& ranges)
{
    std::vector<fileinfo::FileRange> converted;
    converted.reserve(ranges.size());
    for (const sig::ByteRange& range : ranges)
        converted.push_back({range.offset, range.length});
    return converted;
}

// The copy that runs beside the hashing; it waits for the verdict before
// it puts the file in place.
class StagedCopy {
public:
    ~StagedCopy() { settle(false); }

    void start(const QString& target, int fd, const std::vector<sig::ByteRange>& ranges)
    {
        const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (own < 0)
            return;
        std::shared_future<bool> verdict = verdict_.get_future().share();
        copy_ = std::async(std::launch::async, [target, own, ranges = fileRanges(ranges), verdict] {
            auto result =
                fileinfo::CopyFileRanges(target, own, ranges, [&] { return verdict.get(); });
            ::close(own);
            return result;
        });
    }
    bool started() const { return copy_.valid(); }

    // Tells the copy whether to put its file in place and waits for it.
    std::optional<fileinfo::FileError> settle(bool verified)
    {
        if (!copy_.valid())
            return std::nullopt;
        verdict_.set_value(verified);
        return copy_.get();
    }

private:
    std::promise<bool> verdict_;
    std::future<std::optional<fileinfo::FileError>> copy_;
};

} // namespace

VerifiedDocument loadAndWriteOriginal(const QString& path, const LoadOptions& options,
                                      const QString& target,
                                      std::optional<fileinfo::FileError>& writeFailure)
{
    writeFailure.reset();
    std::optional<fileinfo::RegularFile> file = fileinfo::RegularFile::open(path);
    if (!file)
        return verifySignedBytes(path, QByteArrayView(), options);
    StagedCopy copy;
    VerifiedDocument document = verifyWith(path, options, {}, [&](sig::SignedData& data) {
        data.verifyFile(file->descriptor(), file->size(), {},
                        [&](int fd, const std::vector<sig::ByteRange>& ranges) {
                            copy.start(target, fd, ranges);
                        });
    });
    if (copy.started()) {
        auto result = copy.settle(document.verified());
        if (document.verified())
            writeFailure = result;
    } else if (document.verified()) {
        writeFailure = writeOriginalDocument(document, target);
    }
    return document;
}

std::optional<fileinfo::FileError> writeOriginalDocument(const VerifiedDocument& document,
                                                         const QString& path)
{
    if (!document.signedData || !document.signedData->isVerified())
        return fileinfo::FileError{error_number::kPathFileAccess,
                                   QStringLiteral("Não há documento verificado para gravar.")};
    const sig::ContentSource source = document.signedData->contentSource();
    if (source.inFile())
        return fileinfo::CopyFileRanges(path, source.fd, fileRanges(source.ranges));
    return fileinfo::WriteFileBytes(
        path, QByteArray::fromRawData(source.memory.data(), source.memory.size()));
}

} // namespace selavia::verify
