#include "verify/PdfVerification.h"

#include "platform/pdf/ByteRanges.h"
#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfReader.h"
#include "platform/revocation/RevocationService.h"
#include "platform/signature/MessageEvidence.h"
#include "platform/signature/SignatureError.h"
#include "verify/CurrentPolicies.h"
#include "verify/PdfChangeRules.h"
#include "verify/Signatures.h"

#include <QFileInfo>
#include <algorithm>
#include <memory>

namespace selavia::verify {
namespace {

namespace sig = signature;

VerificationError pdfError(const QString& caption, const QString& text)
{
    VerificationError error =
        classifyVerificationError(sig::signedDecimalText(sig::code::kNotSignedData), text, text);
    error.caption = caption;
    error.text = text;
    return error;
}

sig::ValidationServices servicesFor(const pdf::PdfDocument& document, const LoadOptions& options)
{
    sig::ValidationServices services =
        revocation::validationServices(options.revocation, options.at);
    if (!document.dss)
        return services;
    sig::CarriedEvidence evidence = sig::evidenceFromDer(
        document.evidence.certificates, document.evidence.crls, document.evidence.ocsp);
    services.documentCertificates = evidence.certificates;
    services.revocation.insert(services.revocation.begin(),
                               std::make_shared<sig::MessageRevocation>(
                                   std::move(evidence), sig::RevocationSource::Document));
    return services;
}

// One signature's message verified over its range.
struct Verified {
    std::unique_ptr<sig::SignedData> data;
    std::optional<sig::SignatureError> failure;
    std::optional<TimeStampResult> stamp; // a document time-stamp's token, judged
};

bool rangeReadable(const pdf::PdfSignature& signature, qint64 size)
{
    const std::vector<qint64>& range = signature.byteRange;
    if (range.empty() || range.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < range.size(); i += 2) {
        if (range[i] < 0 || range[i + 1] < 0 || range[i] + range[i + 1] > size)
            return false;
    }
    return true;
}

Verified verifyOne(sig::MessageInput& file, const pdf::PdfSignature& signature,
                   const sig::ValidationServices& services, const PdfRun& run)
{
    Verified verified;
    verified.data = std::make_unique<sig::SignedData>(run.options.trustStore, services);
    const auto checking = [&](qint64 done, qint64 total) {
        return run.going(LoadPhase::Revocation, done, total);
    };
    if (!signature.supported) {
        verified.failure = sig::SignatureError::of(sig::code::kNotSignedData);
        verified.data.reset();
        return verified;
    }
    try {
        if (!rangeReadable(signature, file.size()))
            throw sig::SignatureError::of(sig::code::kNotSignedData);
        if (signature.kind == pdf::SignatureKind::DocumentTimeStamp) {
            verified.data->verify(QByteArrayView(signature.contents), sig::VerifyOptions{});
            if (!verified.data->prepareValidation(checking))
                throw sig::SignatureError::of(sig::code::kCancelled);
            const sig::Imprinted imprinted{
                [&](const EVP_MD* md) {
                    return pdf::digestOfRanges(file, signature.byteRange, md);
                },
                QStringLiteral(
                    "o carimbo do tempo do documento não confere com o intervalo assinado"),
                false};
            verified.stamp =
                judgeTimeStamp(verified.data->asTimeStampToken(imprinted), run.checkedAt);
        } else {
            pdf::ByteRangeInput content(file, signature.byteRange);
            const sig::Progress hashing = [&](qint64 done, qint64 total) {
                return run.going(LoadPhase::Hashing, done, total);
            };
            verified.data->verify(QByteArrayView(signature.contents),
                                  sig::VerifyOptions{hashing, {}, &content});
            if (!verified.data->prepareValidation(checking))
                throw sig::SignatureError::of(sig::code::kCancelled);
        }
    } catch (const sig::SignatureError& error) {
        if (error.code() == sig::code::kCancelled)
            throw;
        verified.failure = error;
        verified.data.reset();
    }
    return verified;
}

// The certification level that binds a signature: the certifying
// signature's, when it was made at or before it.
std::optional<int> levelFor(const pdf::PdfDocument& document, const pdf::PdfSignature& signature)
{
    for (const pdf::PdfSignature& other : document.signatures) {
        if (other.certificationLevel && other.revision > 0 && other.revision <= signature.revision)
            return other.certificationLevel;
    }
    return std::nullopt;
}

std::vector<pdf::FieldLock> locksFor(const pdf::PdfDocument& document,
                                     const pdf::PdfSignature& signature)
{
    std::vector<pdf::FieldLock> locks;
    for (const pdf::PdfSignature& other : document.signatures) {
        if (other.lock && other.revision > 0 && other.revision <= signature.revision)
            locks.push_back(*other.lock);
    }
    return locks;
}

// The signature's facts, its changes judged, and what they say against it.
PdfSignatureResult describe(const pdf::PdfDocument& document, const pdf::PdfSignature& signature,
                            int index, DocumentFindings& findings)
{
    PdfSignatureResult entry;
    entry.index = index;
    entry.field = signature.field;
    entry.documentTimeStamp = signature.kind == pdf::SignatureKind::DocumentTimeStamp;
    entry.subFilter = signature.subFilter;
    entry.byteRange = signature.byteRange;
    entry.revision = signature.revision;
    if (signature.revision > 0 && signature.byteRange.size() == 4)
        entry.signedLength = signature.byteRange[2] + signature.byteRange[3];
    entry.coversWholeDocument = signature.coversWholeDocument;
    entry.reason = signature.reason;
    entry.location = signature.location;
    entry.page = signature.page;
    findings.rangeInvalid = !signature.coverageProblems.isEmpty();
    findings.problems << signature.coverageProblems;
    if (signature.revision == 0)
        return entry;
    const std::optional<int> level = levelFor(document, signature);
    const std::vector<pdf::FieldLock> locks = locksFor(document, signature);
    bool allAllowed = true;
    for (const pdf::PdfChange& change : document.changes) {
        if (change.revision <= signature.revision)
            continue;
        const bool allowed = changeAllowed(change, level, locks);
        allAllowed = allAllowed && allowed;
        const QString kind =
            change.coversContent ? QStringLiteral("overlay") : pdf::changeKindName(change.kind);
        entry.changes.push_back({change.revision, kind, allowed, change.detail});
        if (!allowed)
            findings.problems << QStringLiteral("alteração não permitida depois desta assinatura "
                                                "(revisão %1): %2")
                                     .arg(change.revision)
                                     .arg(change.detail);
        else if (change.coversContent)
            findings.warnings << QStringLiteral("alteração posterior cobre conteúdo assinado "
                                                "(revisão %1): %2")
                                     .arg(change.revision)
                                     .arg(change.detail);
        findings.changedAfterSigning |= !allowed;
        findings.visibleChange |= allowed && change.coversContent;
    }
    entry.modifiedAfterSigning = !entry.changes.empty();
    if (entry.modifiedAfterSigning)
        entry.modificationAllowed = allAllowed;
    return entry;
}

// The earliest valid document time-stamp made after the signature's
// revision: it proves the signature existed then.
const TimeStampResult* laterProof(const std::vector<PdfSignatureResult>& done, int revision)
{
    const TimeStampResult* best = nullptr;
    for (const PdfSignatureResult& entry : done) {
        const std::optional<TimeStampResult>& stamp = entry.timestamp;
        if (!stamp || !stamp->valid || entry.revision <= revision)
            continue;
        if (!best || stamp->genTime < best->genTime)
            best = &*stamp;
    }
    return best;
}

SignerFacts pdfFacts(const DocumentFindings& findings)
{
    SignerFacts facts;
    facts.byteRangeInvalid = findings.rangeInvalid;
    facts.changedAfterSigning = findings.changedAfterSigning;
    facts.visibleChangeAfterSigning = findings.visibleChange;
    return facts;
}

// A signature whose message does not verify: what is known of it, judged.
SignatureResult unverifiedSigner(FileFailure failure, const QString& why, int index,
                                 const DocumentFindings& findings)
{
    SignatureResult entry;
    entry.index = index;
    entry.problems << why << findings.problems;
    entry.warnings << findings.warnings;
    entry.judgement = judgeFile(failure, {judgeSigner(pdfFacts(findings))});
    return entry;
}

FileFailure failureOf(const sig::SignatureError& error)
{
    return fileFailureOf(
        classifyVerificationError(error.codeText(), error.description(), error.details()));
}

// A document time-stamp whose token does not verify.
TimeStampResult failedStamp(const sig::SignatureError& error, const DocumentFindings& findings)
{
    TimeStampResult stamp;
    stamp.problems << error.description() << findings.problems;
    stamp.tokenProblems << error.description();
    stamp.judgement = judgeFile(failureOf(error), {judgeSigner(pdfFacts(findings))});
    return stamp;
}

void judgeAll(sig::MessageInput& file, const pdf::PdfDocument& document, const PdfRun& run,
              ValidationResult& result)
{
    sig::ValidationServices services = servicesFor(document, run.options);
    services.checkedAt = run.checkedAt;
    std::vector<Verified> verified;
    for (const pdf::PdfSignature& signature : document.signatures)
        verified.push_back(verifyOne(file, signature, services, run));
    std::optional<sig::policies::PolicyCatalogue> current;
    for (const Verified& one : verified) {
        if (one.data && !current)
            current = currentPolicyCatalogue(*one.data, run.options, run.checkedAt);
    }
    if (current && run.options.nameTrust)
        result.trust = run.options.trustStore.identifier(current->listDigests);
    const sig::policies::PolicyCatalogue& policies =
        current ? *current : sig::policies::bundledCatalogue();
    PdfResult pdf;
    pdf.revisions = static_cast<int>(document.revisionEnds.size());
    pdf.certificationLevel = document.certificationLevel;
    pdf.dss = document.dss;
    // Document time-stamps first: each is a proof of existence for the
    // signatures made before it.
    std::vector<DocumentFindings> findings(document.signatures.size());
    for (std::size_t i = 0; i < document.signatures.size(); ++i) {
        PdfSignatureResult entry =
            describe(document, document.signatures[i], static_cast<int>(i + 1), findings[i]);
        entry.intact = !verified[i].failure;
        if (entry.documentTimeStamp && verified[i].stamp) {
            TimeStampResult stamp = *verified[i].stamp;
            stamp.problems << findings[i].problems;
            stamp.judgement =
                judgeFile(FileFailure::None, {stamp.judgement, judgeSigner(pdfFacts(findings[i]))});
            stamp.valid = stamp.valid && !findings[i].rangeInvalid;
            entry.timestamp = std::move(stamp);
        } else if (entry.documentTimeStamp && document.signatures[i].supported) {
            entry.timestamp = failedStamp(*verified[i].failure, findings[i]);
        }
        pdf.signatures.push_back(std::move(entry));
    }
    for (std::size_t i = 0; i < document.signatures.size(); ++i) {
        PdfSignatureResult& entry = pdf.signatures[i];
        if (entry.documentTimeStamp && document.signatures[i].supported)
            continue;
        findings[i].proof = laterProof(pdf.signatures, entry.revision);
        if (verified[i].failure) {
            const bool supported = document.signatures[i].supported;
            result.signers.push_back(unverifiedSigner(
                supported ? failureOf(*verified[i].failure) : FileFailure::UnsupportedPdfSignature,
                supported ? verified[i].failure->description()
                          : QStringLiteral("formato de assinatura não suportado (%1)")
                                .arg(document.signatures[i].subFilter),
                static_cast<int>(result.signers.size() + 1), findings[i]));
            entry.signer = static_cast<int>(result.signers.size());
            continue;
        }
        for (const sig::Signer& signer : verified[i].data->signers()) {
            result.signers.push_back(readSigner(signer, static_cast<int>(result.signers.size() + 1),
                                                run.checkedAt, policies, findings[i]));
            if (entry.signer == 0)
                entry.signer = static_cast<int>(result.signers.size());
        }
    }
    result.pdf = std::move(pdf);
    if (services.tally)
        result.network = services.tally();
}

} // namespace

bool readAsPdf(sig::MessageInput& input, const QString& path)
{
    QByteArray head(1024, '\0');
    const qint64 got = input.read(0, head.data(), head.size());
    if (got <= 0)
        return false;
    head.resize(got);
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool messageName = suffix == QLatin1String("slv") || suffix == QLatin1String("p7s") ||
                             suffix == QLatin1String("p7m");
    return !messageName && pdf::looksLikePdf(head);
}

void verifyPdf(sig::MessageInput& input, const PdfRun& run, ValidationResult& result)
{
    pdf::PdfDocument document;
    try {
        document = pdf::readPdf(input);
    } catch (const pdf::PdfError& error) {
        result.error =
            pdfError(QStringLiteral("Documento PDF danificado"),
                     QStringLiteral("O documento PDF não pôde ser lido: %1.").arg(error.text()));
        return;
    }
    const bool anyReadable =
        std::any_of(document.signatures.begin(), document.signatures.end(),
                    [](const pdf::PdfSignature& signature) { return signature.supported; });
    if (!anyReadable) {
        const bool unsupported = !document.unsupported.isEmpty();
        result.pdfFailure =
            unsupported ? FileFailure::UnsupportedPdfSignature : FileFailure::NoPdfSignature;
        result.error = pdfError(
            QStringLiteral("Documento PDF - Não verificado"),
            unsupported
                ? QStringLiteral("Não verificado: formato de assinatura não suportado (%1).")
                      .arg(document.unsupported.join(QStringLiteral(", ")))
                : QStringLiteral("Não verificado: o documento PDF não contém assinaturas."));
        return;
    }
    judgeAll(input, document, run, result);
}

} // namespace selavia::verify
