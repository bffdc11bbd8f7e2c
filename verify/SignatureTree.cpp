#include "SignatureTree.h"

#include "fileinfo/FileHandler.h"
#include "verify/CadesText.h"
#include "verify/DocumentName.h"
#include "verify/TreeKeys.h"

namespace selavia::verify {
namespace {

TreeNode node(QString key, QString parentKey, QString text, QString imageKey)
{
    TreeNode result;
    result.key = std::move(key);
    result.parentKey = std::move(parentKey);
    result.text = std::move(text);
    result.imageKey = std::move(imageKey);
    return result;
}

void appendSigner(const SignatureResult& entry, std::vector<TreeNode>& nodes)
{
    using keys::SignerNode;
    const auto key = [&entry](SignerNode which) { return keys::signerNode(which, entry.index); };
    const QString signerKey = key(SignerNode::Signer);
    const QString technicalKey = key(SignerNode::Technical);
    const QString chainKey = key(SignerNode::Chain);
    const std::size_t first = nodes.size();

    TreeNode signerNode =
        node(signerKey, keys::kRoot, entry.holderName, imageKey(entry.certificateClass));
    signerNode.expanded = true;
    // What the node's picture cannot say: the signature's verdict and why,
    // a revocation that could not be consulted among the reasons.
    signerNode.description = verdictLine(entry.judgement);
    nodes.push_back(std::move(signerNode));
    nodes.push_back(node(key(SignerNode::Identity), signerKey,
                         QStringLiteral("Cpf/Cnpj: ") + entry.identity, keys::kInfoDoc));
    nodes.push_back(node(key(SignerNode::Email), signerKey, QStringLiteral("EMail: ") + entry.email,
                         keys::kInfoEmail));
    if (!entry.signingTime.isEmpty()) {
        // The blank before the origin stays when there is no origin.
        nodes.push_back(node(key(SignerNode::Time), signerKey,
                             QStringLiteral("Carimbo de Tempo: ") + entry.signingTime +
                                 QLatin1Char(' ') + entry.timestampOrigin,
                             keys::kInfoTime));
    }
    if (entry.timestamp)
        nodes.push_back(node(key(SignerNode::TimeStamp), signerKey,
                             timeStampNodeText(*entry.timestamp), keys::kInfoTime));
    nodes.push_back(
        node(technicalKey, signerKey, QStringLiteral("Informações Técnicas"), keys::kInfoTec));
    nodes.push_back(node(key(SignerNode::Validity), technicalKey,
                         QStringLiteral("Validade: ") + entry.validFromText +
                             QStringLiteral(" - ") + entry.validToText,
                         keys::kInfoGen));
    nodes.push_back(node(key(SignerNode::Version), technicalKey,
                         QStringLiteral("Versão: ") +
                             (entry.version > 0 ? QString::number(entry.version) : QString()),
                         keys::kInfoGen));
    nodes.push_back(node(key(SignerNode::Serial), technicalKey,
                         QStringLiteral("NºSerial: ") + entry.serialNumber, keys::kInfoGen));
    nodes.push_back(node(key(SignerNode::Thumbprint), technicalKey,
                         QStringLiteral("Impressão: ") + entry.thumbprint, keys::kInfoGen));
    nodes.push_back(
        node(chainKey, signerKey, QStringLiteral("Cadeia de Certificados"), keys::kSigns));
    int position = 0;
    for (const ChainLinkStatus& link : entry.status.chain) {
        TreeNode certificateNode =
            node(keys::chainCertificate(entry.index, ++position), chainKey,
                 displayText(link.certificate.simpleName), keys::kCertificate);
        certificateNode.chainPosition = position;
        nodes.push_back(std::move(certificateNode));
    }
    for (std::size_t n = first; n < nodes.size(); ++n)
        nodes[n].signer = entry.index;
}

} // namespace

std::vector<TreeNode> buildTree(const std::vector<SignatureResult>& signers)
{
    std::vector<TreeNode> nodes;
    TreeNode root =
        node(keys::kRoot, QString(), QStringLiteral("Certificados e Assinaturas"), keys::kCertTree);
    root.expanded = true;
    nodes.push_back(std::move(root));
    for (const SignatureResult& entry : signers)
        appendSigner(entry, nodes);
    return nodes;
}

} // namespace selavia::verify
