// Bytes of a ".slv" file → verdict, signers, tree, name and the reports,
// with nothing trusted; then everything the windows would read of it. The
// same bytes go through both ways in: from memory and from a file (which
// reads the message's frame and hashes the content from the file), and the
// two must agree.

#include "cli/VerifyCommand.h"
#include "platform/signature/CertificateDetails.h"
#include "platform/signature/SignatureError.h"
#include "tests/fuzz/FuzzCheck.h"
#include "verify/Verification.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {

namespace sig = selavia::signature;
namespace verify = selavia::verify;
using selavia::fuzz::isSafeToShow;
using selavia::fuzz::require;

// Sums lengths so that every text is really read (and kept from being
// optimised away).
std::size_t touched = 0;

void touch(const QString& text)
{
    touched += static_cast<std::size_t>(text.size());
}

void readCertificate(const sig::Certificate& certificate)
{
    try {
        const auto fields = sig::detailFields(
            certificate, [](const QDateTime& moment) { return moment.toString(); });
        for (const sig::CertificateField& field : fields) {
            touch(field.name);
            touch(field.value);
        }
        touch(sig::issuerSimpleName(certificate));
        touch(sig::publicKeyDescription(certificate));
        for (const QString& purpose : sig::certificatePurposes(certificate))
            touch(purpose);
        touch(certificate.subjectName());
        touch(certificate.issuerName());
    } catch (const sig::SignatureError&) {
        // A certificate that cannot be read is reported as such by the dialog.
    }
}

void readJudgement(const verify::Judgement& judgement)
{
    touch(verify::verdictLine(judgement));
    touch(judgement.subIndication);
}

void readDocument(const verify::ValidationResult& document)
{
    if (!document.verified()) {
        touch(document.error->caption);
        touch(document.error->text);
        touch(document.error->codeText);
        require(document.signers.empty() && document.tree.empty() &&
                    document.originalName.isEmpty() && document.contentSize == -1,
                "a failed verification shows nothing of the message");
        require(document.verdict.verdict != verify::Verdict::Approved,
                "a failed verification is never Aprovado");
        readJudgement(document.verdict);
        return;
    }
    require(document.contentSize >= 0 && document.contentSha256.size() == 32,
            "a verified document has its content's size and sum");
    touched += static_cast<std::size_t>(document.contentSize);
    require(!document.signers.empty(), "a verified message has a signer");
    readJudgement(document.verdict);
    require(isSafeToShow(document.originalName), "the document name is safe to show");
    for (const verify::SignatureResult& signer : document.signers) {
        touch(signer.holderName);
        touch(signer.identity);
        touch(signer.email);
        touch(signer.signingTime);
        touch(signer.timestampOrigin);
        touch(signer.documentName);
        touch(signer.validFromText);
        touch(signer.validToText);
        touch(signer.serialNumber);
        touch(signer.thumbprint);
        require(isSafeToShow(signer.documentName), "a signer's document name is safe to show");
        readJudgement(signer.judgement);
        require(signer.judgement.verdict <= document.verdict.verdict,
                "no signature is judged worse than its file");
        // What the certificate dialog reads of each certificate of the chain.
        for (const verify::ChainLinkStatus& link : signer.status.chain) {
            try {
                readCertificate(sig::Certificate::fromDer(link.certificate.der));
            } catch (const sig::SignatureError&) {
                // A certificate that cannot be read is reported as such by the dialog.
            }
        }
        for (const verify::CounterSignatureResult& counter : signer.counterSignatures) {
            touch(counter.signerName);
            readJudgement(counter.judgement);
            require(counter.judgement.verdict <= document.verdict.verdict,
                    "no counter-signature is judged worse than its file");
        }
    }
    for (const verify::TreeNode& node : document.tree) {
        touch(node.key);
        touch(node.parentKey);
        touch(node.imageKey);
        touch(node.text);
        require(isSafeToShow(node.text), "tree texts are safe to show");
    }
}

// A file in memory holding exactly `data`, reopened by path as a user's
// file would be.
QString asFile(const std::uint8_t* data, std::size_t size)
{
    static const int fd = ::memfd_create("fuzz.slv", MFD_CLOEXEC);
    require(fd >= 0, "memfd_create");
    require(::ftruncate(fd, 0) == 0, "ftruncate");
    for (std::size_t done = 0; done < size;) {
        const ssize_t wrote = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        require(wrote > 0, "pwrite");
        done += static_cast<std::size_t>(wrote);
    }
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Nothing trusted: every chain ends untrusted, which is what a file
    // from anyone gets on a machine without its root. Offline and without a
    // cache: the addresses a fuzzed certificate names are never asked.
    static const verify::LoadOptions store = [] {
        selavia::revocation::Settings settings;
        settings.offline = true;
        return verify::LoadOptions(sig::TrustStore::empty(), settings);
    }();
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const verify::ValidationResult document =
        verify::Verification(store).readBytes(QStringLiteral("/nonexistent/fuzz.slv"), bytes).run();
    readDocument(document);
    touched +=
        static_cast<std::size_t>(QJsonDocument(selavia::cli::jsonReport(document)).toJson().size());
    touch(selavia::cli::textReport(document));

    QByteArray content;
    const verify::ValidationResult fromFile =
        verify::Verification(store)
            .readFile(asFile(data, size))
            .contentSink([&](QByteArrayView block) { content += block; })
            .run();
    readDocument(fromFile);
    require(fromFile.verified() == document.verified() &&
                (document.verified() || fromFile.error->codeText == document.error->codeText),
            "memory and file give the same verdict");
    if (document.verified()) {
        require(fromFile.signers.size() == document.signers.size(), "the same signers");
        require(fromFile.contentSha256 == document.contentSha256, "the same content");
        require(fromFile.verdict.verdict == document.verdict.verdict, "the same verdict");
        require(QCryptographicHash::hash(content, QCryptographicHash::Sha256) ==
                    fromFile.contentSha256,
                "what is handed over is what was summed");
    }
    return 0;
}
