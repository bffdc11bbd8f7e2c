#include "VerifiedDocument.h"

#include "fileinfo/FileHandler.h"
#include "platform/signature/SignatureError.h"

#include <exception>

namespace selavia::verify {
namespace {

namespace sig = signature;

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

} // namespace

VerifiedDocument verifySignedBytes(const QString& path, QByteArrayView bytes,
                                   sig::TrustStore trustStore)
{
    VerifiedDocument document;
    document.filePath = path;
    auto signedData = std::make_shared<sig::SignedData>(std::move(trustStore));
    try {
        signedData->verify(bytes);
    } catch (const sig::SignatureError& error) {
        return failed(std::move(document), error.codeText(), error.description());
    } catch (const std::exception&) {
        // Not a failure the services describe (out of memory, say): still a
        // failed verification, reported as an internal one.
        const auto error = sig::SignatureError::of(sig::code::kInternal);
        return failed(std::move(document), error.codeText(), error.description());
    }
    document.signedData = std::move(signedData);

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
    if (!document.hasExtension)
        document.originalName = fileinfo::GetFileProperty(path, fileinfo::FileProperty::BaseName);
    return document;
}

VerifiedDocument loadSignedDocument(const QString& path, sig::TrustStore trustStore)
{
    // A file that cannot be read gives no bytes, which the services refuse
    // as no signed message at all.
    const QByteArray bytes = fileinfo::ReadFileBytes(path);
    return verifySignedBytes(path, bytes, std::move(trustStore));
}

} // namespace selavia::verify
