#include "VerifiedDocument.h"

#include "fileinfo/FileHandler.h"
#include "platform/revocation/RevocationService.h"
#include "platform/signature/SignatureError.h"
#include "platform/signature/SummingInput.h"
#include "verify/DocumentName.h"

#include <QDir>
#include <exception>
#include <functional>

namespace selavia::verify {
namespace {

namespace sig = signature;
namespace error_number = fileinfo::error_number;

// Classes the signers, builds the tree and decides the document's name: a
// detached signature's document is named after its own file.
void describeSigners(VerifiedDocument& document, const QString& detachedContentPath)
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

    if (!detachedContentPath.isEmpty()) {
        document.originalName = sanitizedDocumentName(detachedContentPath);
        document.hasExtension = acceptedDocumentName(document.originalName).has_value();
        return;
    }
    document.hasExtension = !document.originalName.isEmpty();
    // The signed file's own name may hold anything a file name can, line
    // breaks and reordering marks included: it is cleaned like a name from
    // inside the file.
    if (!document.hasExtension)
        document.originalName = sanitizedDocumentName(
            fileinfo::GetFileProperty(document.filePath, fileinfo::FileProperty::BaseName));
}

VerifiedDocument failed(VerifiedDocument document, const sig::SignatureError& error)
{
    document.error =
        classifyVerificationError(error.codeText(), error.description(), error.details());
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

// Runs `use` with the document the options name for a detached signature,
// opened for reading, or with none when the content is attached; an
// unreadable document fails like an unreadable content.
template <typename Use> void withDetachedContent(const LoadOptions& options, Use use)
{
    if (options.detachedContentPath.isEmpty()) {
        use(nullptr);
        return;
    }
    std::optional<fileinfo::RegularFile> file =
        fileinfo::RegularFile::open(options.detachedContentPath);
    if (!file)
        throw sig::SignatureError::of(sig::code::kContentUnreadable);
    sig::FileInput content(file->descriptor(), file->size());
    use(&content);
}

// Runs `verify` on a fresh SignedData, whose certificates may ask the
// revocation sources the options allow, with the detached content the
// options name, then the revocation phase; the rest of the document follows
// from what it verified.
template <typename Verify>
VerifiedDocument verifyWith(const QString& path, const LoadOptions& options,
                            const LoadProgress& progress, Verify verify)
{
    VerifiedDocument document;
    document.filePath = path;
    document.offline = options.revocation.offline;
    document.checkedAt = QDateTime::currentDateTimeUtc();
    document.trustSources = options.trustStore.sources();
    auto signedData = std::make_shared<sig::SignedData>(
        options.trustStore, revocation::validationServices(options.revocation));
    try {
        withDetachedContent(options,
                            [&](sig::MessageInput* content) { verify(*signedData, content); });
        if (!signedData->prepareValidation(revocationProgress(progress)))
            throw sig::SignatureError::of(sig::code::kCancelled);
    } catch (const sig::SignatureError& error) {
        return failed(std::move(document), error);
    } catch (const std::exception&) {
        // Not a failure the services describe (out of memory, say): still a
        // failed verification, reported as an internal one.
        return failed(std::move(document), sig::SignatureError::of(sig::code::kInternal));
    }
    document.signedData = std::move(signedData);
    describeSigners(document, options.detachedContentPath);
    return document;
}

} // namespace

VerifiedDocument verifySignedBytes(const QString& path, QByteArrayView bytes,
                                   const LoadOptions& options)
{
    VerifiedDocument document =
        verifyWith(path, options, {}, [&](sig::SignedData& data, sig::MessageInput* content) {
            data.verify(bytes, sig::VerifyOptions{{}, {}, content});
        });
    if (options.sumSignedFile) {
        document.signedFileSize = bytes.size();
        document.signedFileSha256 = sig::Sha256::of(bytes);
    }
    return document;
}

VerifiedDocument verifySignedInput(const QString& path, sig::MessageInput& input,
                                   const LoadOptions& options, const LoadProgress& progress,
                                   const sig::ContentSink& sink)
{
    sig::Progress hashing;
    if (progress)
        hashing = [&](qint64 done, qint64 total) {
            return progress(LoadPhase::Hashing, done, total);
        };
    if (!options.sumSignedFile)
        return verifyWith(path, options, progress,
                          [&](sig::SignedData& data, sig::MessageInput* content) {
                              data.verify(input, {hashing, sink, content});
                          });
    sig::SummingInput summing(input);
    VerifiedDocument document =
        verifyWith(path, options, progress, [&](sig::SignedData& data, sig::MessageInput* content) {
            data.verify(summing, {hashing, sink, content});
        });
    document.signedFileSha256 = summing.finish();
    document.signedFileSize = document.signedFileSha256.isEmpty() ? -1 : input.size();
    return document;
}

namespace {

fileinfo::FileError signedFileChanged()
{
    return {error_number::kPathFileAccess,
            QStringLiteral("O arquivo assinado foi alterado depois da verificação")};
}

bool sameContent(const VerifiedDocument& again, const VerifiedDocument& document)
{
    return again.verified() &&
           again.signedData->contentSha256() == document.signedData->contentSha256();
}

// A file that cannot be opened reads as nothing, which the services refuse
// as no signed message at all.
class EmptyInput : public sig::MessageInput {
public:
    qint64 size() const override { return 0; }
    qint64 read(qint64, char*, qint64) override { return 0; }
};

// Runs `use` on the file at `path`, opened for reading.
template <typename Use> auto withFile(const QString& path, Use use)
{
    std::optional<fileinfo::RegularFile> file = fileinfo::RegularFile::open(path);
    if (!file) {
        EmptyInput nothing;
        return use(static_cast<sig::MessageInput&>(nothing));
    }
    sig::FileInput input(file->descriptor(), file->size());
    return use(static_cast<sig::MessageInput&>(input));
}

// Where an extraction goes: a file staged beside `target` (in `folder`
// when no target is known yet), put in place under the name `nameOf`
// gives the verified document, else at `target`.
struct Destination {
    QString target;
    QString folder;
    std::function<QString(const VerifiedDocument&)> nameOf;

    std::variant<fileinfo::StagedFile, fileinfo::FileError> stage() const
    {
        return nameOf ? fileinfo::StagedFile::createIn(folder)
                      : fileinfo::StagedFile::create(target);
    }
    QString pathFor(const VerifiedDocument& document) const
    {
        return nameOf ? QDir(folder).filePath(nameOf(document)) : target;
    }
};

// Verifies `input` into a staged file, put in place only when `accept`
// agrees and the verification succeeded; what `accept` refuses is a
// failure.
Extraction extract(const QString& path, sig::MessageInput& input, const LoadOptions& options,
                   const Destination& destination, fileinfo::Replace replace,
                   const std::function<bool(const VerifiedDocument&)>& accept)
{
    auto staged = destination.stage();
    if (auto* failure = std::get_if<fileinfo::FileError>(&staged)) {
        Extraction extraction{verifySignedInput(path, input, options), *failure};
        if (!extraction.document.verified())
            extraction.failure.reset();
        return extraction;
    }
    fileinfo::StagedWriter writer(std::get<fileinfo::StagedFile>(std::move(staged)));
    Extraction extraction{verifySignedInput(path, input, options, {},
                                            [&](QByteArrayView block) { writer.append(block); }),
                          std::nullopt};
    std::optional<fileinfo::FileError> written = writer.finish();
    if (!accept(extraction.document))
        extraction.failure = signedFileChanged();
    else if (extraction.document.verified())
        extraction.failure =
            written ? written
                    : writer.file().commit(destination.pathFor(extraction.document), replace);
    return extraction;
}

} // namespace

VerifiedDocument loadSignedDocument(const QString& path, const LoadOptions& options,
                                    const LoadProgress& progress, const sig::ContentSink& sink)
{
    return withFile(path, [&](sig::MessageInput& input) {
        return verifySignedInput(path, input, options, progress, sink);
    });
}

VerifiedDocument loadIntoCopy(const QString& path, const LoadOptions& options,
                              const LoadProgress& progress, TemporaryCopy& copy)
{
    return withFile(path, [&](sig::MessageInput& input) {
        return loadIntoCopy(path, input, options, progress, copy);
    });
}

VerifiedDocument loadIntoCopy(const QString& path, sig::MessageInput& input,
                              const LoadOptions& options, const LoadProgress& progress,
                              TemporaryCopy& copy)
{
    VerifiedDocument document = verifySignedInput(path, input, options, progress, copy.stage());
    if (document.verified())
        (void)copy.place(document.originalName, document.signedData->contentSha256());
    else
        copy.discard();
    return document;
}

std::optional<fileinfo::FileError> restageCopy(const VerifiedDocument& document,
                                               const LoadOptions& options, TemporaryCopy& copy)
{
    if (!document.verified())
        return fileinfo::MakeFileError(error_number::kPathFileAccess);
    const QString name = copy.name();
    const sig::ContentSink sink = copy.stage();
    if (copy.failure())
        return copy.failure();
    VerifiedDocument again = loadSignedDocument(document.filePath, options, {}, sink);
    if (!sameContent(again, document)) {
        copy.discard();
        return signedFileChanged();
    }
    return copy.place(name, again.signedData->contentSha256());
}

std::optional<fileinfo::FileError> extractAgain(const VerifiedDocument& document,
                                                const LoadOptions& options, const QString& target,
                                                fileinfo::Replace replace)
{
    if (!document.verified())
        return fileinfo::MakeFileError(error_number::kPathFileAccess);
    return withFile(document.filePath, [&](sig::MessageInput& input) {
        return extract(document.filePath, input, options, {target, {}, {}}, replace,
                       [&](const VerifiedDocument& again) { return sameContent(again, document); })
            .failure;
    });
}

Extraction extractOriginal(const QString& path, const LoadOptions& options, const QString& target,
                           fileinfo::Replace replace)
{
    return withFile(path, [&](sig::MessageInput& input) {
        return extractOriginal(path, input, options, target, replace);
    });
}

Extraction extractOriginal(const QString& path, sig::MessageInput& input,
                           const LoadOptions& options, const QString& target,
                           fileinfo::Replace replace)
{
    return extract(path, input, options, {target, {}, {}}, replace,
                   [](const VerifiedDocument&) { return true; });
}

Extraction extractOriginalInto(const QString& path, const LoadOptions& options,
                               const QString& folder,
                               const std::function<QString(const VerifiedDocument&)>& nameOf,
                               fileinfo::Replace replace)
{
    return withFile(path, [&](sig::MessageInput& input) {
        return extract(path, input, options, {{}, folder, nameOf}, replace,
                       [](const VerifiedDocument&) { return true; });
    });
}

} // namespace selavia::verify
