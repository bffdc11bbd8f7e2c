#include "verify/Verification.h"

#include "platform/revocation/RevocationService.h"
#include "platform/signature/SignatureError.h"
#include "platform/signature/SummingInput.h"
#include "verify/CurrentPolicies.h"
#include "verify/DocumentName.h"
#include "verify/PdfVerification.h"
#include "verify/SignatureTree.h"
#include "verify/Signatures.h"

#include <QDir>
#include <algorithm>
#include <exception>
#include <variant>

namespace selavia::verify {
namespace {

namespace sig = signature;
namespace error_number = fileinfo::error_number;

// Decides the document's name: the last name a signer gives, else the
// signed file's own; a detached signature's document is named after its file.
void nameDocument(ValidationResult& result, const QString& detachedContentPath)
{
    for (const SignatureResult& signer : result.signers) {
        if (!signer.documentName.isEmpty())
            result.originalName = signer.documentName;
    }
    if (!detachedContentPath.isEmpty()) {
        result.originalName = sanitizedDocumentName(detachedContentPath);
        result.hasExtension = acceptedDocumentName(result.originalName).has_value();
        return;
    }
    result.hasExtension = !result.originalName.isEmpty();
    // The signed file's own name may hold anything a file name can, line
    // breaks and reordering marks included: it is cleaned like a name from
    // inside the file.
    if (!result.hasExtension)
        result.originalName = sanitizedDocumentName(
            fileinfo::GetFileProperty(result.filePath, fileinfo::FileProperty::BaseName));
}

// Every signature of the file judged, counter-signatures included.
void judgeFile(ValidationResult& result)
{
    std::vector<Judgement> judgements;
    std::vector<CertificateClass> classes;
    for (const SignatureResult& signer : result.signers) {
        judgements.push_back(signer.judgement);
        classes.push_back(signer.certificateClass);
        for (const CounterSignatureResult& counter : signer.counterSignatures)
            judgements.push_back(counter.judgement);
    }
    if (result.pdf) {
        for (const PdfSignatureResult& signature : result.pdf->signatures) {
            if (signature.timestamp)
                judgements.push_back(signature.timestamp->judgement);
        }
    }
    result.signaturesOk = signaturesOk(classes);
    const FileFailure failure = result.pdfFailure != FileFailure::None ? result.pdfFailure
                                : result.error ? fileFailureOf(*result.error)
                                               : FileFailure::None;
    result.verdict = judgeFile(failure, judgements);
}

// The time judged at and what the file is judged against, before anything
// is read: a file that fails still says both.
void startResult(ValidationResult& result, const LoadOptions& options)
{
    result.atGiven = options.at.isValid();
    result.checkedAt = result.atGiven ? options.at.toUTC() : QDateTime::currentDateTimeUtc();
    result.offline = options.revocation.offline;
    result.trustSources = options.trustStore.sources();
    if (options.nameTrust)
        result.trust = options.trustStore.identifier(sig::policies::bundledListDigests());
}

void describe(ValidationResult& result, const sig::SignedData& data, const LoadOptions& options)
{
    result.contentSize = data.contentSize();
    result.contentSha256 = data.contentSha256();
    // Fetched here, with the rest of what the validation asks of the network.
    const std::optional<sig::policies::PolicyCatalogue> current =
        currentPolicyCatalogue(data, options, result.checkedAt);
    if (current && options.nameTrust)
        result.trust = options.trustStore.identifier(current->listDigests);
    const sig::policies::PolicyCatalogue& policies =
        current ? *current : sig::policies::bundledCatalogue();
    int index = 0;
    for (const sig::Signer& signer : data.signers())
        result.signers.push_back(readSigner(signer, ++index, result.checkedAt, policies));
    nameDocument(result, options.detachedContentPath);
    result.tree = buildTree(result.signers);
}

void fail(ValidationResult& result, const sig::SignatureError& error)
{
    result.error =
        classifyVerificationError(error.codeText(), error.description(), error.details());
}

// Runs `use` with the document the options name for a detached signature,
// opened for reading, or with none when the content is attached; an
// unreadable document fails like an unreadable content, `why` saying why.
template <typename Use>
void withDetachedContent(const LoadOptions& options, std::optional<fileinfo::FileError>& why,
                         Use use)
{
    if (options.detachedContentPath.isEmpty()) {
        use(nullptr);
        return;
    }
    fileinfo::FileError failure;
    std::optional<fileinfo::RegularFile> file =
        fileinfo::RegularFile::open(options.detachedContentPath, &failure);
    if (!file) {
        why = failure;
        throw sig::SignatureError::of(sig::code::kContentUnreadable);
    }
    sig::FileInput content(file->descriptor(), file->size());
    use(&content);
}

// A file that cannot be opened reads as nothing, which the services refuse
// as no signed message at all.
class EmptyInput : public sig::MessageInput {
public:
    qint64 size() const override { return 0; }
    qint64 read(qint64, char*, qint64) override { return 0; }
};

// Sums the signed file from the verifying read when asked to.
struct FileSum {
    std::optional<sig::SummingInput> summing;
    sig::MessageInput* input = nullptr;
    FileSum(sig::MessageInput* source, bool sum)
    {
        if (sum && source) {
            summing.emplace(*source);
            input = &*summing;
        } else {
            input = source;
        }
    }
};

} // namespace

fileinfo::FileError signedFileChanged()
{
    return {error_number::kPathFileAccess,
            QStringLiteral("O arquivo assinado foi alterado depois da verificação")};
}

Verification::Verification(LoadOptions options) : options_(std::move(options)) {}

Verification& Verification::readFile(const QString& path)
{
    path_ = path;
    return *this;
}

Verification& Verification::readInput(const QString& path, sig::MessageInput& input)
{
    path_ = path;
    input_ = &input;
    return *this;
}

Verification& Verification::readBytes(const QString& path, QByteArrayView bytes)
{
    path_ = path;
    bytes_ = bytes;
    return *this;
}

Verification& Verification::intoCopy(TemporaryCopy& copy)
{
    copy_ = &copy;
    return *this;
}

Verification& Verification::extractTo(const QString& target, fileinfo::Replace replace)
{
    target_ = target;
    replace_ = replace;
    return *this;
}

Verification& Verification::extractInto(const QString& folder,
                                        std::function<QString(const ValidationResult&)> nameOf,
                                        fileinfo::Replace replace)
{
    folder_ = folder;
    nameOf_ = std::move(nameOf);
    replace_ = replace;
    return *this;
}

Verification& Verification::contentSink(sig::ContentSink sink)
{
    sink_ = std::move(sink);
    return *this;
}

Verification& Verification::keepContent(qint64 cap)
{
    keepCap_ = cap;
    return *this;
}

Verification& Verification::expectContent(const QByteArray& sha256)
{
    expectedContent_ = sha256;
    return *this;
}

Verification& Verification::onProgress(LoadProgress progress)
{
    progress_ = std::move(progress);
    return *this;
}

ValidationResult Verification::verifyPdfInput(sig::MessageInput& input,
                                              const sig::ContentSink& sink)
{
    ValidationResult result;
    result.filePath = path_;
    startResult(result, options_);
    // The document is the whole file: summed, and handed on, from the same
    // reads that find and verify its signatures.
    sig::SummingInput summing(input, sink);
    const PdfRun run{
        options_, result.checkedAt, [this](LoadPhase phase, qint64 done, qint64 total) {
            if (cancelled_)
                return false;
            return !progress_ || progress_(phase, done, total) ? !cancelled_.load() : false;
        }};
    try {
        verifyPdf(summing, run, result);
        if (cancelled_)
            throw sig::SignatureError::of(sig::code::kCancelled);
    } catch (const sig::SignatureError& error) {
        fail(result, error);
    } catch (const std::exception&) {
        fail(result, sig::SignatureError::of(sig::code::kInternal));
    }
    const QByteArray sum = summing.finish();
    if (!result.verified()) {
        result.signers.clear();
        result.pdf.reset();
    } else if (sum.isEmpty()) {
        fail(result, sig::SignatureError::of(sig::code::kContentUnreadable));
    } else {
        result.contentSize = input.size();
        result.contentSha256 = sum;
        nameDocument(result, path_);
        result.tree = buildTree(result.signers, result.pdf);
    }
    if (options_.sumSignedFile && !sum.isEmpty()) {
        result.signedFileSize = input.size();
        result.signedFileSha256 = sum;
    }
    judgeFile(result);
    return result;
}

ValidationResult Verification::verifyInput(sig::MessageInput* input, const sig::ContentSink& sink)
{
    if (options_.detachedContentPath.isEmpty()) {
        if (input && readAsPdf(*input, path_))
            return verifyPdfInput(*input, sink);
        if (!input && bytes_) {
            sig::ViewInput bytes(*bytes_);
            if (readAsPdf(bytes, path_))
                return verifyPdfInput(bytes, sink);
        }
    }
    ValidationResult result;
    result.filePath = path_;
    result.detachedContentPath = options_.detachedContentPath;
    startResult(result, options_);
    const auto going = [this](LoadPhase phase, qint64 done, qint64 total) {
        if (cancelled_)
            return false;
        return !progress_ || progress_(phase, done, total) ? !cancelled_.load() : false;
    };
    FileSum sum(input, options_.sumSignedFile);
    sig::ValidationServices services =
        revocation::validationServices(options_.revocation, options_.at);
    services.checkedAt = result.checkedAt;
    const std::function<sig::NetworkTally()> tally = services.tally;
    sig::SignedData data(options_.trustStore, std::move(services));
    std::optional<fileinfo::FileError> documentUnreadable;
    try {
        withDetachedContent(options_, documentUnreadable, [&](sig::MessageInput* content) {
            const sig::Progress hashing = [&](qint64 done, qint64 total) {
                return going(LoadPhase::Hashing, done, total);
            };
            if (sum.input)
                data.verify(*sum.input, {hashing, sink, content});
            else
                data.verify(*bytes_, sig::VerifyOptions{hashing, sink, content});
        });
        const bool finished = data.prepareValidation(
            [&](qint64 done, qint64 total) { return going(LoadPhase::Revocation, done, total); });
        if (!finished || cancelled_)
            throw sig::SignatureError::of(sig::code::kCancelled);
        describe(result, data, options_);
        if (tally)
            result.network = tally();
    } catch (const sig::SignatureError& error) {
        fail(result, error);
    } catch (const std::exception&) {
        // Not a failure the services describe (out of memory, say): still a
        // failed verification, reported as an internal one.
        fail(result, sig::SignatureError::of(sig::code::kInternal));
    }
    if (documentUnreadable && result.error)
        noteUnreadableFile(*result.error, options_.detachedContentPath, *documentUnreadable);
    if (!result.verified())
        result.signers.clear();
    if (options_.sumSignedFile) {
        if (sum.summing) {
            result.signedFileSha256 = sum.summing->finish();
            result.signedFileSize = result.signedFileSha256.isEmpty() ? -1 : input->size();
        } else if (bytes_) {
            result.signedFileSize = bytes_->size();
            result.signedFileSha256 = sig::Sha256::of(*bytes_);
        }
    }
    judgeFile(result);
    return result;
}

ValidationResult Verification::verifyWithOutputs(sig::MessageInput* input)
{
    const auto sameContent = [this](const ValidationResult& result) {
        return expectedContent_.isEmpty() ||
               (result.verified() && result.contentSha256 == expectedContent_);
    };
    const auto sinkTo = [this](sig::ContentSink first) -> sig::ContentSink {
        if (!sink_)
            return first;
        if (!first)
            return sink_;
        return [first = std::move(first), second = sink_](QByteArrayView block) {
            first(block);
            second(block);
        };
    };
    if (copy_) {
        const QString keptName = copy_->name();
        const sig::ContentSink staged = copy_->stage();
        ValidationResult result = verifyInput(input, sinkTo(staged));
        if (!sameContent(result)) {
            copy_->discard();
            result.outputFailure = signedFileChanged();
        } else if (result.verified()) {
            result.outputFailure = copy_->place(keptName.isEmpty() ? result.originalName : keptName,
                                                result.contentSha256);
        } else {
            copy_->discard();
        }
        return result;
    }
    if (!replace_)
        return verifyInput(input, sink_);
    auto staged =
        nameOf_ ? fileinfo::StagedFile::createIn(folder_) : fileinfo::StagedFile::create(target_);
    if (auto* failure = std::get_if<fileinfo::FileError>(&staged)) {
        ValidationResult result = verifyInput(input, sink_);
        if (result.verified())
            result.outputFailure = *failure;
        return result;
    }
    fileinfo::StagedWriter writer(std::get<fileinfo::StagedFile>(std::move(staged)));
    ValidationResult result =
        verifyInput(input, sinkTo([&](QByteArrayView block) { writer.append(block); }));
    std::optional<fileinfo::FileError> written = writer.finish();
    if (!sameContent(result)) {
        result.outputFailure = signedFileChanged();
    } else if (result.verified()) {
        // An empty name from `nameOf` is a refusal: nothing is put in place.
        const QString name = nameOf_ ? nameOf_(result) : QString();
        if (nameOf_ && name.isEmpty())
            writer.file().discard();
        else
            result.outputFailure =
                written ? written
                        : writer.file().commit(nameOf_ ? QDir(folder_).filePath(name) : target_,
                                               *replace_);
    }
    return result;
}

ValidationResult Verification::run()
{
    if (keepCap_ < 0)
        return readAndVerify();
    // The bytes the digests saw, as they saw them; a content past the cap
    // stops being kept at once rather than at the end.
    QByteArray kept;
    bool fits = true;
    sig::ContentSink outer = sink_;
    sink_ = [&, outer](QByteArrayView block) {
        if (outer)
            outer(block);
        fits = fits && kept.size() + block.size() <= keepCap_;
        if (fits)
            kept.append(block);
        else
            kept = QByteArray();
    };
    ValidationResult result = readAndVerify();
    sink_ = outer;
    if (result.verified() && fits)
        result.content = std::move(kept);
    return result;
}

ValidationResult Verification::readAndVerify()
{
    if (input_ || bytes_)
        return verifyWithOutputs(input_);
    fileinfo::FileError why;
    std::optional<fileinfo::RegularFile> file = fileinfo::RegularFile::open(path_, &why);
    if (!file) {
        EmptyInput nothing;
        ValidationResult result = verifyWithOutputs(&nothing);
        if (result.error)
            noteUnreadableFile(*result.error, path_, why);
        return result;
    }
    sig::FileInput input(file->descriptor(), file->size());
    return verifyWithOutputs(&input);
}

bool ValidationResult::acceptedAsIcpBrasil() const
{
    if (!verified() || signers.empty() || verdict.verdict == Verdict::Rejected)
        return false;
    for (const SignatureResult& signer : signers) {
        if (signer.certificateClass != CertificateClass::Valid)
            return false;
    }
    return true;
}

} // namespace selavia::verify
