#include "app/SignedVersion.h"

#include "fileinfo/FileHandler.h"
#include "verify/TreeKeys.h"
#include "verify/Verification.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace selavia::app {
namespace {

// The key of the node directly under the root on the way up from `node`.
QString branchHead(const verify::TreeNode& node, const std::vector<verify::TreeNode>& tree)
{
    QString head = node.key;
    QString parent = node.parentKey;
    // Bounded by the tree's size: keys name their parents, never a cycle,
    // but the walk does not rely on it.
    for (std::size_t step = 0;
         step < tree.size() && !parent.isEmpty() && parent != verify::keys::kRoot; ++step) {
        const auto up = std::find_if(tree.begin(), tree.end(), [&](const verify::TreeNode& other) {
            return other.key == parent;
        });
        if (up == tree.end())
            return {};
        head = up->key;
        parent = up->parentKey;
    }
    return parent == verify::keys::kRoot ? head : QString();
}

bool headsBranchOf(const QString& head, const verify::PdfSignatureResult& signature)
{
    if (signature.documentTimeStamp)
        return head == verify::keys::documentTimeStamp(signature.index);
    return signature.signer > 0 &&
           head == verify::keys::signerNode(verify::keys::SignerNode::Signer, signature.signer);
}

} // namespace

const verify::PdfSignatureResult* signedVersionOf(const verify::TreeNode& node,
                                                  const verify::ValidationResult& result)
{
    if (!result.pdf || !result.verified())
        return nullptr;
    const QString head = branchHead(node, result.tree);
    if (head.isEmpty())
        return nullptr;
    for (const verify::PdfSignatureResult& signature : result.pdf->signatures) {
        if (headsBranchOf(head, signature))
            return signature.signedLength > 0 ? &signature : nullptr;
    }
    return nullptr;
}

QString signedVersionName(const QString& documentName, int revision)
{
    QString base = QFileInfo(documentName).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("documento");
    return QStringLiteral("%1-revisao-%2.pdf").arg(base).arg(revision);
}

std::optional<fileinfo::FileError> writeSignedVersion(const QString& signedFile,
                                                      const QByteArray& sha256, qint64 length,
                                                      const QString& target,
                                                      fileinfo::Replace replace)
{
    std::optional<fileinfo::RegularFile> source = fileinfo::RegularFile::open(signedFile);
    if (!source || source->size() < length)
        return verify::signedFileChanged();
    auto staged = fileinfo::StagedFile::create(target);
    if (auto* failure = std::get_if<fileinfo::FileError>(&staged))
        return *failure;
    fileinfo::StagedFile& file = std::get<fileinfo::StagedFile>(staged);
    // One read: the prefix is written from the same bytes the whole file's
    // sum is taken from, so what is put in place is what was verified.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 offset = 0;;) {
        const ssize_t got =
            ::pread(source->descriptor(), block.data(), static_cast<size_t>(block.size()), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fileinfo::ErrorFromErrno(errno);
        if (got == 0)
            break;
        const QByteArrayView part(block.constData(), got);
        hash.addData(part);
        if (offset < length) {
            if (auto failure = file.write(part.first(std::min<qint64>(got, length - offset))))
                return failure;
        }
        offset += got;
    }
    if (hash.result() != sha256)
        return verify::signedFileChanged();
    return file.commit(target, replace);
}

} // namespace selavia::app
