#include "app/SignedVersion.h"

#include "fileinfo/FileHandler.h"
#include "verify/TreeKeys.h"
#include "verify/Verification.h"

#include <QFileInfo>
#include <algorithm>

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
    QByteArray read;
    if (auto failure = fileinfo::copySumming(*source, file, read, length))
        return failure;
    if (read != sha256)
        return verify::signedFileChanged();
    return file.commit(target, replace);
}

} // namespace selavia::app
