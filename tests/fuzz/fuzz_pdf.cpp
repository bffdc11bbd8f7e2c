// Bytes of a ".pdf" file → its signatures, revisions and changes, judged,
// and the JSON report, with nothing trusted and nothing fetched. Whatever
// the bytes, the run ends, and what it says holds together.

#include "cli/JsonReport.h"
#include "tests/fuzz/FuzzCheck.h"
#include "verify/Verification.h"

#include <QJsonDocument>
#include <cstddef>
#include <cstdint>

namespace {

namespace sig = selavia::signature;
namespace verify = selavia::verify;
using selavia::fuzz::require;

void checkPdf(const verify::ValidationResult& result, qint64 size)
{
    if (!result.verified()) {
        require(result.signers.empty(), "a failed PDF lists no signer");
        return;
    }
    require(result.pdf.has_value(), "a verified PDF has its PDF part");
    require(result.contentSize == size, "the document is the whole file");
    for (const verify::PdfSignatureResult& signature : result.pdf->signatures) {
        require(signature.signer >= 0 &&
                    signature.signer <= static_cast<int>(result.signers.size()),
                "a signature points at one of the signers");
        // One of a form not read here is judged as an unsupported signature.
        require(!signature.documentTimeStamp || signature.timestamp.has_value() ||
                    signature.signer > 0,
                "a document time-stamp is judged");
        require(signature.revision >= 0 && signature.revision <= result.pdf->revisions,
                "a signature closes one of the revisions");
        require(signature.signedLength <= size, "a signed version lies within the file");
        for (const verify::PdfChangeResult& change : signature.changes)
            require(change.revision > signature.revision, "a change comes after its signature");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const verify::ValidationResult result = verify::Verification(sig::TrustStore::empty())
                                                .readBytes(QStringLiteral("documento.pdf"), bytes)
                                                .run();
    checkPdf(result, static_cast<qint64>(size));
    const QByteArray json = QJsonDocument(selavia::cli::jsonReport(result)).toJson();
    require(!json.isEmpty(), "the report is written");
    return 0;
}
