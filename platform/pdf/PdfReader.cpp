#include "platform/pdf/PdfReader.h"

#include "platform/pdf/PdfChanges.h"
#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfInput.h"
#include "platform/pdf/PdfStructure.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>
#include <map>
#include <set>

namespace selavia::pdf {
namespace {

namespace sig = signature;

constexpr qint64 kScanBlock = 1 << 20;
constexpr qint64 kLookBehind = 80;
constexpr int kMaxRevisions = 1000;
constexpr int kMaxEvidence = 2000;
constexpr qint64 kMaxEvidenceBytes = 4LL * 1024 * 1024;
// How far a signature dictionary's start may lie before its /Contents.
constexpr qint64 kMaxDictionaryPrefix = 1LL * 1024 * 1024;

QByteArray readAt(sig::MessageInput& input, qint64 offset, qint64 length)
{
    QByteArray bytes;
    if (offset < 0 || length <= 0 || offset >= input.size())
        return bytes;
    bytes.resize(std::min(length, input.size() - offset));
    const qint64 got = input.read(offset, bytes.data(), bytes.size());
    if (got < 0)
        throw PdfError(QStringLiteral("não foi possível ler o arquivo PDF"));
    bytes.resize(got);
    return bytes;
}

// A revision ends at "startxref <offset> %%EOF", plus one end of line,
// where the offset, before the %%EOF, holds a cross-reference table or
// stream. (A linearized file's first-page section names the main table at
// the file's end: not the end of a revision.)
bool endsRevision(sig::MessageInput& input, const QByteArray& before, qint64 eof)
{
    static const QRegularExpression pattern(QStringLiteral("startxref\\s+(\\d{1,15})\\s*$"));
    static const QRegularExpression table(QStringLiteral("^\\s*(xref|\\d+\\s+\\d+\\s+obj)"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(before));
    if (!match.hasMatch())
        return false;
    const qint64 offset = match.captured(1).toLongLong();
    if (offset >= eof || !table.match(QString::fromLatin1(readAt(input, offset, 32))).hasMatch())
        return false;
    checkCrossReferenceStream(input, offset);
    return true;
}

std::vector<RevisionEnd> findRevisionEnds(sig::MessageInput& input)
{
    std::vector<RevisionEnd> ends;
    const qint64 size = input.size();
    for (qint64 at = 0; at < size; at += kScanBlock) {
        const qint64 from = std::max<qint64>(0, at - kLookBehind);
        const QByteArray block = readAt(input, from, at - from + kScanBlock + 7);
        for (qsizetype found = block.indexOf("%%EOF", at - from); found >= 0;
             found = block.indexOf("%%EOF", found + 1)) {
            if (from + found >= at + kScanBlock)
                break;
            const qsizetype lineStart = std::max<qsizetype>(0, found - kLookBehind);
            if (!endsRevision(input, block.mid(lineStart, found - lineStart), from + found))
                continue;
            RevisionEnd end{from + found + 5, from + found + 5};
            if (block.size() > found + 5 && block.at(found + 5) == '\r')
                ++end.end;
            if (block.size() > end.end - from && block.at(end.end - from) == '\n')
                ++end.end;
            ends.push_back(end);
            if (ends.size() > kMaxRevisions)
                throw PdfError(QStringLiteral("o PDF tem revisões demais"));
        }
    }
    if (ends.empty())
        throw PdfError(QStringLiteral(
            "o PDF não tem fim de revisão válido (startxref apontando para a tabela, e %%EOF)"));
    return ends;
}

// "D:YYYYMMDDHHmmSS+HH'mm'", every part after the year optional.
QDateTime pdfDate(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^D?:?(\\d{4})(\\d{2})?(\\d{2})?(\\d{2})?(\\d{2})?(\\d{2})?([Zz+-])?(\\d{2})"
                       "?'?(\\d{2})?'?"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch())
        return {};
    const auto part = [&](int i, int fallback) {
        return m.captured(i).isEmpty() ? fallback : m.captured(i).toInt();
    };
    const QDate date(part(1, 0), part(2, 1), part(3, 1));
    const QTime time(part(4, 0), part(5, 0), part(6, 0));
    if (!date.isValid() || !time.isValid())
        return {};
    int offset = part(8, 0) * 3600 + part(9, 0) * 60;
    if (m.captured(7) == QLatin1String("-"))
        offset = -offset;
    return QDateTime(date, time, Qt::OffsetFromUTC, offset).toUTC();
}

int pageOfField(const Field& field, const std::map<QPDFObjGen, int>& pages)
{
    std::vector<QPDFObjectHandle> widgets{field.handle};
    for (QPDFObjectHandle kid : field.handle.getKey("/Kids").aitems())
        widgets.push_back(kid);
    for (QPDFObjectHandle widget : widgets) {
        for (QPDFObjectHandle probe : {widget, widget.getKey("/P")}) {
            const auto found = probe.isIndirect() ? pages.find(probe.getObjGen()) : pages.end();
            if (found != pages.end())
                return found->second;
        }
    }
    return 0;
}

FieldLock lockOf(QPDFObjectHandle params)
{
    FieldLock lock;
    const QString action = nameOf(params.getKey("/Action"));
    lock.action = action == QLatin1String("Include")   ? FieldLock::Action::Include
                  : action == QLatin1String("Exclude") ? FieldLock::Action::Exclude
                                                       : FieldLock::Action::All;
    for (QPDFObjectHandle name : params.getKey("/Fields").aitems())
        lock.fields << textOf(name);
    return lock;
}

// What the signature's references say: certification and field locks.
void readReferences(QPDFObjectHandle value, QPDFObjectHandle field, PdfSignature& signature)
{
    for (QPDFObjectHandle reference : value.getKey("/Reference").aitems()) {
        const QString method = nameOf(reference.getKey("/TransformMethod"));
        QPDFObjectHandle params = reference.getKey("/TransformParams");
        if (method == QLatin1String("DocMDP")) {
            QPDFObjectHandle p = params.getKey("/P");
            signature.certificationLevel =
                p.isInteger() ? std::clamp<int>(static_cast<int>(p.getIntValue()), 1, 3) : 2;
        } else if (method == QLatin1String("FieldMDP")) {
            signature.lock = lockOf(params);
        }
    }
    if (!signature.lock && field.getKey("/Lock").isDictionary())
        signature.lock = lockOf(field.getKey("/Lock"));
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isPdfSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

// The gap must be this dictionary's /Contents string, brackets included,
// written in the object the dictionary lives in.
void checkGap(sig::MessageInput& input, qint64 objectOffset, qint64 from, qint64 to,
              const PdfSignature& signature, QStringList& problems)
{
    const QString notContents = QStringLiteral(
        "o intervalo não assinado não é exatamente o valor /Contents desta assinatura");
    if (to - from < 2 || to - from > 2 * signature.contents.size() + 2 + 64 * 1024) {
        problems << notContents;
        return;
    }
    const QByteArray gap = readAt(input, from, to - from);
    if (gap.size() != to - from || gap.front() != '<' || gap.back() != '>') {
        problems << notContents;
        return;
    }
    QByteArray hex;
    for (char c : gap.mid(1, gap.size() - 2)) {
        if (isHexDigit(c))
            hex.append(c);
        else if (!isPdfSpace(c)) {
            problems << notContents;
            return;
        }
    }
    if (hex.size() % 2 == 1)
        hex.append('0');
    if (QByteArray::fromHex(hex) != signature.contents) {
        problems << notContents;
        return;
    }
    if (objectOffset < 0 || objectOffset >= from || from - objectOffset > kMaxDictionaryPrefix) {
        problems << QStringLiteral(
            "o valor /Contents não está no objeto do dicionário da assinatura");
        return;
    }
    QByteArray before = readAt(input, objectOffset, from - objectOffset);
    if (before.contains("endobj")) {
        problems << QStringLiteral(
            "o valor /Contents não está no objeto do dicionário da assinatura");
        return;
    }
    while (!before.isEmpty() && isPdfSpace(before.back()))
        before.chop(1);
    if (!before.endsWith("/Contents"))
        problems << notContents;
}

struct Located {
    std::vector<RevisionEnd> ends;
    std::map<QPDFObjGen, QPDFXRefEntry> xref;
};

void checkCoverage(sig::MessageInput& input, const Located& file, QPDFObjGen container,
                   PdfSignature& signature)
{
    const std::vector<qint64>& range = signature.byteRange;
    QStringList& problems = signature.coverageProblems;
    if (range.size() != 4 ||
        std::any_of(range.begin(), range.end(), [](qint64 v) { return v < 0; })) {
        problems << QStringLiteral("/ByteRange não tem exatamente dois intervalos");
        return;
    }
    const qint64 size = input.size();
    if (range[0] != 0)
        problems << QStringLiteral("o intervalo assinado não começa no início do arquivo");
    if (range[1] <= 0 || range[2] < range[0] + range[1] || range[2] + range[3] > size) {
        problems << QStringLiteral("/ByteRange aponta para fora do arquivo ou se sobrepõe");
        return;
    }
    const auto entry = file.xref.find(container);
    qint64 objectOffset = -1;
    if (entry != file.xref.end() && entry->second.getType() == 1)
        objectOffset = entry->second.getOffset();
    checkGap(input, objectOffset, range[0] + range[1], range[2], signature, problems);
    const qint64 end = range[2] + range[3];
    for (std::size_t i = 0; i < file.ends.size(); ++i) {
        if (end >= file.ends[i].eof && end <= file.ends[i].end)
            signature.revision = static_cast<int>(i + 1);
    }
    if (signature.revision == 0) {
        problems << QStringLiteral("o intervalo assinado não termina no fim de uma revisão do PDF");
        return;
    }
    if (signature.revision == static_cast<int>(file.ends.size())) {
        const QByteArray rest = readAt(input, end, 64);
        signature.coversWholeDocument =
            end == size ||
            (rest.size() == size - end && std::all_of(rest.begin(), rest.end(), isPdfSpace));
    }
}

std::vector<qint64> rangeOf(QPDFObjectHandle array)
{
    std::vector<qint64> range;
    for (QPDFObjectHandle item : array.aitems()) {
        if (range.size() > 16)
            break;
        range.push_back(item.isInteger() ? item.getIntValue() : -1);
    }
    return range;
}

bool supported(const QString& subFilter)
{
    return subFilter == QLatin1String("adbe.pkcs7.detached") ||
           subFilter == QLatin1String("ETSI.CAdES.detached") ||
           subFilter == QLatin1String("ETSI.RFC3161");
}

void readSignatures(QPDF& pdf, sig::MessageInput& input, const Located& file, PdfDocument& document)
{
    const std::map<QPDFObjGen, int> pages = annotationPages(pdf, document.pageCount);
    QPDFObjectHandle certifying = pdf.getRoot().getKey("/Perms").getKey("/DocMDP");
    for (const Field& field : fieldsOf(pdf)) {
        QPDFObjectHandle value = field.handle.getKey("/V");
        if (field.type != "/Sig" || !value.isDictionary())
            continue;
        PdfSignature signature;
        signature.field = field.name;
        signature.subFilter = nameOf(value.getKey("/SubFilter"));
        signature.kind = value.getKey("/Type").isNameAndEquals("/DocTimeStamp") ||
                                 signature.subFilter == QLatin1String("ETSI.RFC3161")
                             ? SignatureKind::DocumentTimeStamp
                             : SignatureKind::Signature;
        signature.supported = supported(signature.subFilter);
        if (!signature.supported)
            document.unsupported << field.name + QStringLiteral(" (") + signature.subFilter + ')';
        signature.byteRange = rangeOf(value.getKey("/ByteRange"));
        if (value.getKey("/Contents").isString())
            signature.contents =
                QByteArray::fromStdString(value.getKey("/Contents").getStringValue());
        signature.signingTime = textOf(value.getKey("/M"));
        signature.signingTimeUtc = pdfDate(signature.signingTime);
        signature.reason = textOf(value.getKey("/Reason"));
        signature.location = textOf(value.getKey("/Location"));
        signature.name = textOf(value.getKey("/Name"));
        signature.page = pageOfField(field, pages);
        readReferences(value, field.handle, signature);
        const bool certifies = certifying.isIndirect() && value.isIndirect() &&
                               certifying.getObjGen() == value.getObjGen();
        if (certifies && !signature.certificationLevel)
            signature.certificationLevel = 2;
        if (!certifies)
            signature.certificationLevel.reset();
        else
            document.certificationLevel = signature.certificationLevel;
        checkCoverage(input, file,
                      value.isIndirect() ? value.getObjGen() : field.handle.getObjGen(), signature);
        document.signatures.push_back(std::move(signature));
    }
    std::stable_sort(document.signatures.begin(), document.signatures.end(),
                     [](const PdfSignature& a, const PdfSignature& b) {
                         const auto end = [](const PdfSignature& s) {
                             return s.byteRange.size() == 4 ? s.byteRange[2] + s.byteRange[3]
                                                            : std::numeric_limits<qint64>::max();
                         };
                         return end(a) < end(b);
                     });
}

void readEvidence(QPDFObjectHandle array, std::vector<QByteArray>& into)
{
    for (QPDFObjectHandle stream : array.aitems()) {
        if (into.size() >= kMaxEvidence || !stream.isStream())
            continue;
        try {
            into.push_back(QByteArray::fromStdString(decodedStream(stream, kMaxEvidenceBytes)));
        } catch (const PdfError&) {
            // Evidence that cannot be read is no evidence: left out.
        }
    }
}

void readDss(QPDF& pdf, PdfDocument& document)
{
    QPDFObjectHandle dss = pdf.getRoot().getKey("/DSS");
    if (!dss.isDictionary())
        return;
    document.dss = true;
    readEvidence(dss.getKey("/Certs"), document.evidence.certificates);
    readEvidence(dss.getKey("/CRLs"), document.evidence.crls);
    readEvidence(dss.getKey("/OCSPs"), document.evidence.ocsp);
}

} // namespace

bool looksLikePdf(QByteArrayView head)
{
    // A signed message (DER or BER: a SEQUENCE) may carry a PDF in its
    // first kilobyte; it is still a message.
    if (head.isEmpty() || static_cast<unsigned char>(head.front()) == 0x30)
        return false;
    return head.first(std::min<qsizetype>(head.size(), 1024)).indexOf("%PDF-") >= 0;
}

PdfDocument readPdf(sig::MessageInput& input)
{
    PdfDocument document;
    document.size = input.size();
    Located file;
    file.ends = findRevisionEnds(input);
    for (const RevisionEnd& end : file.ends)
        document.revisionEnds.push_back(end.end);
    std::unique_ptr<QPDF> pdf = openRevision(input, input.size());
    try {
        file.xref = pdf->getXRefTable();
        readSignatures(*pdf, input, file, document);
        readDss(*pdf, document);
    } catch (const PdfError&) {
        throw;
    } catch (const std::exception& error) {
        throw PdfError(QStringLiteral("a estrutura do PDF está danificada (%1)")
                           .arg(QString::fromStdString(error.what()).left(200)));
    }
    int firstSigned = static_cast<int>(file.ends.size());
    for (const PdfSignature& signature : document.signatures) {
        if (signature.revision > 0)
            firstSigned = std::min(firstSigned, signature.revision);
    }
    pdf.reset();
    document.changes = changesAfter(input, file.ends, firstSigned);
    return document;
}

QString changeKindName(PdfChange::Kind kind)
{
    switch (kind) {
    case PdfChange::Kind::Dss:
        return QStringLiteral("dss");
    case PdfChange::Kind::DocumentTimeStamp:
        return QStringLiteral("doc-timestamp");
    case PdfChange::Kind::Signature:
        return QStringLiteral("signature");
    case PdfChange::Kind::NewSignatureField:
        return QStringLiteral("new-signature-field");
    case PdfChange::Kind::FormFill:
        return QStringLiteral("form-fill");
    case PdfChange::Kind::NewFormField:
        return QStringLiteral("new-form-field");
    case PdfChange::Kind::Annotation:
        return QStringLiteral("annotation");
    case PdfChange::Kind::Metadata:
        return QStringLiteral("metadata");
    case PdfChange::Kind::PageContent:
        return QStringLiteral("page-content");
    case PdfChange::Kind::Pages:
        return QStringLiteral("pages");
    case PdfChange::Kind::Catalog:
        return QStringLiteral("catalog");
    case PdfChange::Kind::Redefined:
        return QStringLiteral("object-redefined");
    case PdfChange::Kind::Freed:
        return QStringLiteral("object-removed");
    case PdfChange::Kind::SignatureValue:
        return QStringLiteral("signature-redefined");
    case PdfChange::Kind::TrailingData:
        return QStringLiteral("trailing-data");
    }
    return {};
}

} // namespace selavia::pdf
