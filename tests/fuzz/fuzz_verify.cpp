// Bytes of a ".slv" file → verdict, signers, tree, name and the reports,
// with nothing trusted; then everything the windows would read of it. The
// same bytes go through both ways in: from memory and from a file (which
// reads the message's frame and hashes the content from the file), and the
// two must agree.

#include "cli/VerifyCommand.h"
#include "platform/signature/CertificateDetails.h"
#include "platform/signature/SignatureError.h"
#include "tests/fuzz/FuzzCheck.h"
#include "verify/VerifiedDocument.h"

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

void readDocument(const verify::VerifiedDocument& document)
{
    if (!document.verified()) {
        touch(document.error->caption);
        touch(document.error->text);
        touch(document.error->codeText);
        require(document.signers.empty() && document.tree.empty() &&
                    document.originalName.isEmpty(),
                "a failed verification shows nothing of the message");
        return;
    }
    require(document.signedData && document.signedData->isVerified(),
            "a verified document holds its message");
    touched += static_cast<std::size_t>(document.signedData->contentSize());
    touched += static_cast<std::size_t>(document.signedData->inputForm());
    require(!document.signers.empty(), "a verified message has a signer");
    require(isSafeToShow(document.originalName), "the document name is safe to show");
    for (const verify::SignerEntry& signer : document.signers) {
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
    }
    for (const verify::TreeNode& node : document.tree) {
        touch(node.key);
        touch(node.parentKey);
        touch(node.imageKey);
        touch(node.text);
        require(isSafeToShow(node.text), "tree texts are safe to show");
        if (node.certificate)
            readCertificate(*node.certificate);
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
    const verify::VerifiedDocument document =
        verify::verifySignedBytes(QStringLiteral("/nonexistent/fuzz.slv"), bytes, store);
    readDocument(document);
    touched +=
        static_cast<std::size_t>(QJsonDocument(selavia::cli::jsonReport(document)).toJson().size());
    touch(selavia::cli::textReport(document));

    QByteArray content;
    const verify::VerifiedDocument fromFile = verify::loadSignedDocument(
        asFile(data, size), store, {}, [&](QByteArrayView block) { content += block; });
    readDocument(fromFile);
    require(fromFile.verified() == document.verified() &&
                (document.verified() || fromFile.error->codeText == document.error->codeText),
            "memory and file give the same verdict");
    if (document.verified()) {
        require(fromFile.signers.size() == document.signers.size(), "the same signers");
        require(fromFile.signedData->contentSha256() == document.signedData->contentSha256(),
                "the same content");
        require(QCryptographicHash::hash(content, QCryptographicHash::Sha256) ==
                    fromFile.signedData->contentSha256(),
                "what is handed over is what was summed");
    }
    return 0;
}
