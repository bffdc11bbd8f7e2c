#include "cli/JsonReport.h"

#include "fileinfo/PathText.h"
#include "verify/CertificateClass.h"
#include "verify/Verdict.h"

#include <QJsonArray>

namespace selavia::cli {
namespace {

using fileinfo::withBytesEscaped;
using verify::ValidationResult;

QJsonValue orNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue utcText(const QDateTime& moment)
{
    return moment.isValid() ? QJsonValue(moment.toUTC().toString(Qt::ISODate))
                            : QJsonValue(QJsonValue::Null);
}

QString stateCode(signature::RevocationState state)
{
    switch (state) {
    case signature::RevocationState::Good:
        return QStringLiteral("good");
    case signature::RevocationState::Revoked:
        return QStringLiteral("revoked");
    case signature::RevocationState::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QJsonValue sourceCode(signature::RevocationSource source)
{
    switch (source) {
    case signature::RevocationSource::Message:
        return QStringLiteral("message");
    case signature::RevocationSource::Document:
        return QStringLiteral("document");
    case signature::RevocationSource::Cache:
        return QStringLiteral("cache");
    case signature::RevocationSource::Download:
        return QStringLiteral("download");
    case signature::RevocationSource::Ocsp:
        return QStringLiteral("ocsp");
    case signature::RevocationSource::None:
        break;
    }
    return QJsonValue::Null;
}

QJsonObject revocationJson(const signature::RevocationStatus& status)
{
    return QJsonObject{
        {"status", stateCode(status.state)},
        {"source", sourceCode(status.source)},
        {"revoked_at", status.revoked() ? utcText(status.revokedAt) : QJsonValue::Null},
        {"this_update", utcText(status.thisUpdate)},
        {"next_update", utcText(status.nextUpdate)},
        {"detail", status.detail},
    };
}

QJsonArray chainStatusJson(const std::vector<verify::ChainLinkStatus>& links)
{
    QJsonArray chain;
    for (const verify::ChainLinkStatus& link : links)
        chain.append(QJsonObject{
            {"subject", link.certificate.subject},
            {"thumbprint", link.certificate.thumbprint},
            {"revocation", revocationJson(link.revocation)},
            {"problems", QJsonArray::fromStringList(link.problems)},
        });
    return chain;
}

QJsonArray chainNamesJson(const verify::CertificateStatus& status)
{
    QJsonArray names;
    for (const verify::ChainLinkStatus& link : status.chain)
        names.append(link.certificate.simpleName);
    return names;
}

QJsonArray reasonsJson(const verify::Judgement& judgement)
{
    QJsonArray reasons;
    for (const verify::VerdictReason& reason : judgement.reasons)
        reasons.append(QJsonObject{{"code", reason.code}, {"text", reason.text}});
    return reasons;
}

// What every judged signature carries, a signer's, a counter-signature's or
// a time-stamp token's. `sub_indication` is the older spelling, kept.
void addJudgement(QJsonObject& entry, const verify::Judgement& judgement,
                  const QStringList& warnings)
{
    entry.insert("verdict", verify::verdictWord(judgement.verdict));
    entry.insert("indication", verify::indicationName(judgement.indication));
    entry.insert("subindication", orNull(judgement.subIndication));
    entry.insert("sub_indication", orNull(judgement.subIndication));
    entry.insert("reasons", reasonsJson(judgement));
    entry.insert("warnings", QJsonArray::fromStringList(warnings));
}

QJsonValue timestampJson(const std::optional<verify::TimeStampResult>& token)
{
    if (!token)
        return QJsonValue::Null;
    QJsonObject entry{
        {"valid", token->valid},
        {"time", utcText(token->genTime)},
        {"tsa", token->tsaName},
        {"tsa_chain_status", chainStatusJson(token->tsaChainStatus)},
        {"problems", QJsonArray::fromStringList(token->problems)},
    };
    addJudgement(entry, token->judgement, {});
    return entry;
}

QJsonArray timestampsJson(const std::vector<verify::TimeStampResult>& tokens)
{
    QJsonArray list;
    for (const verify::TimeStampResult& token : tokens)
        list.append(timestampJson(token));
    return list;
}

QJsonValue policyJson(const std::optional<verify::PolicyCheck>& policy)
{
    if (!policy)
        return QJsonValue::Null;
    return QJsonObject{
        {"oid", policy->oid},
        {"name", policy->name},
        {"conforms", policy->conforms},
        {"problems", QJsonArray::fromStringList(policy->problems)},
        {"checked", QJsonArray::fromStringList(policy->checked)},
        {"not_checked", QJsonArray::fromStringList(policy->notChecked)},
    };
}

QJsonArray counterSignaturesJson(const std::vector<verify::CounterSignatureResult>& counters)
{
    QJsonArray list;
    for (const verify::CounterSignatureResult& counter : counters) {
        QJsonObject entry{
            {"name", counter.signerName},
            {"time", utcText(counter.signingTime)},
            {"level", counter.level},
            {"valid", counter.valid},
            {"problems", QJsonArray::fromStringList(counter.problems)},
            {"revocation", revocationJson(counter.revocation)},
            {"chain_status", chainStatusJson(counter.chainStatus)},
        };
        addJudgement(entry, counter.judgement, counter.warnings);
        list.append(entry);
    }
    return list;
}

QJsonObject signerJson(const verify::SignatureResult& signer)
{
    QJsonObject entry{
        {"index", signer.index},
        {"holder_name", signer.holderName},
        {"identity", signer.identity},
        {"class", verify::imageKey(signer.certificateClass)},
        {"trust_framework", verify::trustFrameworkKey(signer.trustFramework)},
        {"email", signer.email},
        {"signing_time", signer.signingTime},
        {"signing_time_utc", utcText(signer.claimedSigningTime)},
        {"timestamp_origin", signer.timestampOrigin},
        {"valid_from", signer.validFromText},
        {"valid_from_utc", utcText(signer.validFrom)},
        {"valid_to", signer.validToText},
        {"valid_to_utc", utcText(signer.validTo)},
        {"version", signer.version},
        {"serial_number", signer.serialNumber},
        {"thumbprint", signer.thumbprint},
        {"chain", chainNamesJson(signer.status)},
        {"revocation", revocationJson(signer.status.revocation)},
        {"chain_status", chainStatusJson(signer.status.chain)},
        {"timestamp", timestampJson(signer.timestamp)},
        {"content_timestamp", timestampJson(signer.contentTimestamp)},
        {"archive_timestamps", timestampsJson(signer.archiveTimestamps)},
        {"valid_at_timestamp",
         signer.validAtTimestamp ? QJsonValue(*signer.validAtTimestamp) : QJsonValue::Null},
        {"policy", policyJson(signer.policy)},
        {"countersignatures", counterSignaturesJson(signer.counterSignatures)},
        {"problems", QJsonArray::fromStringList(signer.problems)},
        {"best_signature_time", utcText(signer.bestSignatureTime)},
        {"best_signature_time_source", orNull(signer.bestSignatureTimeSource)},
        {"digest_algorithm", orNull(signer.algorithms.digest)},
        {"signature_algorithm", orNull(signer.algorithms.signature)},
    };
    addJudgement(entry, signer.judgement, signer.warnings);
    return entry;
}

QJsonObject nodeJson(const verify::TreeNode& node)
{
    return QJsonObject{
        {"key", node.key},        {"parent", orNull(node.parentKey)}, {"text", node.text},
        {"image", node.imageKey}, {"expanded", node.expanded},
    };
}

QJsonValue errorJson(const std::optional<verify::VerificationError>& error)
{
    if (!error)
        return QJsonValue::Null;
    // A file that could not be read is told apart from a corrupt one.
    QJsonValue unreadable = QJsonValue::Null;
    if (error->readFailure)
        unreadable = QJsonObject{{"path", error->unreadablePath},
                                 {"number", error->readFailure->number},
                                 {"reason", error->readFailure->description}};
    return QJsonObject{{"code_text", error->codeText},
                       {"caption", error->caption},
                       {"text", error->text},
                       {"detail", error->detail},
                       {"unreadable_file", unreadable}};
}

QJsonArray byteRangeJson(const std::vector<qint64>& range)
{
    QJsonArray values;
    for (qint64 value : range)
        values.append(static_cast<double>(value));
    return values;
}

QJsonArray changesJson(const std::vector<verify::PdfChangeResult>& changes)
{
    QJsonArray list;
    for (const verify::PdfChangeResult& change : changes)
        list.append(QJsonObject{{"revision", change.revision},
                                {"kind", change.kind},
                                {"allowed", change.allowed},
                                {"detail", change.detail}});
    return list;
}

// One signature field's value or document time-stamp; its judgement is the
// signer's (or the time-stamp's) object, written once.
QJsonObject pdfSignatureJson(const verify::PdfSignatureResult& signature,
                             const std::vector<QJsonObject>& signers)
{
    QJsonObject entry{
        {"index", signature.index},
        {"field", signature.field},
        {"kind", signature.documentTimeStamp ? "doc-timestamp" : "signature"},
        {"sub_filter", signature.subFilter},
        {"byte_range", byteRangeJson(signature.byteRange)},
        {"revision", signature.revision},
        {"covers_whole_document", signature.coversWholeDocument},
        {"intact", signature.intact},
        {"modified_after_signing", signature.modifiedAfterSigning},
        {"modification_allowed", signature.modificationAllowed
                                     ? QJsonValue(*signature.modificationAllowed)
                                     : QJsonValue::Null},
        {"changes", changesJson(signature.changes)},
        {"page", signature.page},
    };
    if (signature.documentTimeStamp) {
        entry["timestamp"] = timestampJson(signature.timestamp);
        entry["trust_framework"] = QJsonValue::Null;
    } else if (signature.signer > 0 && signature.signer <= static_cast<int>(signers.size())) {
        const QJsonObject& signer = signers[static_cast<std::size_t>(signature.signer - 1)];
        entry["signer"] = signer;
        entry["trust_framework"] = signer.value("trust_framework");
    }
    return entry;
}

QJsonValue pdfJson(const std::optional<verify::PdfResult>& pdf)
{
    if (!pdf)
        return QJsonValue::Null;
    return QJsonObject{
        {"revisions", pdf->revisions},
        {"certification_level",
         pdf->certificationLevel ? QJsonValue(*pdf->certificationLevel) : QJsonValue::Null},
        {"dss", pdf->dss},
    };
}

// Every string of `value` with the bytes of a name that are not UTF-8
// escaped: a name may reach any text (the tree's, an error's), and JSON
// cannot carry the lone surrogates that stand for such bytes.
QJsonValue withNamesEscaped(const QJsonValue& value)
{
    if (value.isString())
        return withBytesEscaped(value.toString());
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (QJsonValueRef item : array)
            item = withNamesEscaped(item);
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = withNamesEscaped(it.value());
        return object;
    }
    return value;
}

// The signed file's own SHA-256; null when it could not be read whole.
QJsonValue signedFileSha256(const ValidationResult& result)
{
    const bool unreadable = result.error && result.error->readFailure &&
                            result.error->unreadablePath == result.filePath;
    if (unreadable || result.signedFileSize < 0 || result.signedFileSha256.isEmpty())
        return QJsonValue::Null;
    return QString::fromLatin1(result.signedFileSha256.toHex());
}

} // namespace

QJsonObject jsonReport(const ValidationResult& result)
{
    const bool verified = result.verified();
    QJsonArray signers;
    std::vector<QJsonObject> signerObjects;
    for (const verify::SignatureResult& signer : result.signers) {
        signerObjects.push_back(signerJson(signer));
        signers.append(signerObjects.back());
    }
    QJsonArray tree;
    for (const verify::TreeNode& node : result.tree)
        tree.append(nodeJson(node));
    QJsonObject report{
        {"file", result.filePath},
        {"file_sha256", signedFileSha256(result)},
        {"format", result.pdf || result.pdfFailure != verify::FileFailure::None ? "pdf" : "cms"},
        {"verified", verified},
        {"error", errorJson(result.error)},
        {"signatures_ok", verified && result.signaturesOk},
        {"original_name", verified ? result.originalName : QString()},
        {"has_extension", verified && result.hasExtension},
        {"content_size",
         verified ? QJsonValue(static_cast<double>(result.contentSize)) : QJsonValue::Null},
        {"content_sha256", verified ? QJsonValue(QString::fromLatin1(result.contentSha256.toHex()))
                                    : QJsonValue::Null},
        {"signers", signers},
        {"tree", tree},
        {"checked_at", utcText(result.checkedAt)},
        {"at_given", result.atGiven},
        {"trust", result.trust},
        {"offline", result.offline},
        {"verdict", verify::verdictWord(result.verdict.verdict)},
        {"indication", verify::indicationName(result.verdict.indication)},
        {"sub_indication", orNull(result.verdict.subIndication)},
        {"subindication", orNull(result.verdict.subIndication)},
        {"reasons", reasonsJson(result.verdict)},
    };
    if (result.pdf) {
        report["pdf"] = pdfJson(result.pdf);
        QJsonArray signatures;
        for (const verify::PdfSignatureResult& signature : result.pdf->signatures)
            signatures.append(pdfSignatureJson(signature, signerObjects));
        report["signatures"] = signatures;
    }
    // Only a name given to the program can hold such bytes.
    const bool escapedNames =
        withBytesEscaped(result.filePath) != result.filePath ||
        withBytesEscaped(result.detachedContentPath) != result.detachedContentPath;
    return escapedNames ? withNamesEscaped(report).toObject() : report;
}

} // namespace selavia::cli
