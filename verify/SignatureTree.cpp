#include "SignatureTree.h"

#include "fileinfo/FileHandler.h"
#include "verify/CadesText.h"
#include "verify/CertificateClass.h"
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

const PdfSignatureResult* pdfSignatureOf(const SignatureResult& entry,
                                         const std::optional<PdfResult>& pdf)
{
    if (!pdf)
        return nullptr;
    for (const PdfSignatureResult& signature : pdf->signatures) {
        if (signature.signer == entry.index)
            return &signature;
    }
    return nullptr;
}

void appendPdfNodes(const PdfSignatureResult& signature, int revisions, const QString& parent,
                    const QString& revisionKey, const QString& changesKey,
                    std::vector<TreeNode>& nodes)
{
    nodes.push_back(node(revisionKey, parent, revisionText(signature, revisions), keys::kInfoDoc));
    const QStringList lines = changeLines(signature);
    if (lines.isEmpty())
        return;
    TreeNode changes = node(changesKey, parent, lines.front(), keys::kInfoGen);
    changes.description = lines.join(QLatin1Char('\n'));
    nodes.push_back(std::move(changes));
    for (qsizetype i = 1; i < lines.size(); ++i)
        nodes.push_back(node(changesKey + QLatin1Char('.') + QString::number(i), parent, lines[i],
                             keys::kInfoGen));
}

void appendSigner(const SignatureResult& entry, const std::optional<PdfResult>& pdf,
                  std::vector<TreeNode>& nodes)
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
    // What the node's picture cannot say: the certificate's class (its
    // disc's colour), the signature's verdict and why, a revocation that
    // could not be consulted among the reasons.
    signerNode.description = signerCaption(entry.certificateClass, entry.trustFramework) +
                             QLatin1Char('\n') + verdictLine(entry.judgement);
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
    if (const PdfSignatureResult* signature = pdfSignatureOf(entry, pdf))
        appendPdfNodes(*signature, pdf->revisions, signerKey, key(SignerNode::Revision),
                       key(SignerNode::Changes), nodes);
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

QString revisionText(const PdfSignatureResult& signature, int revisions)
{
    if (signature.revision == 0)
        return QStringLiteral("Intervalo assinado fora das revisões do documento");
    return QStringLiteral("Revisão %1 de %2 - ").arg(signature.revision).arg(revisions) +
           (signature.coversWholeDocument
                ? QStringLiteral("cobre o documento inteiro")
                : QStringLiteral("cobre uma versão anterior do documento"));
}

QStringList changeLines(const PdfSignatureResult& signature)
{
    QStringList allowed, lines;
    for (const PdfChangeResult& change : signature.changes) {
        if (change.allowed)
            allowed << displayText(change.detail);
        else
            lines << QStringLiteral("Alteração não permitida depois desta assinatura: ") +
                         displayText(change.detail);
    }
    allowed.removeDuplicates();
    if (!allowed.isEmpty())
        lines.prepend(QStringLiteral("Alterações posteriores permitidas: ") +
                      allowed.join(QStringLiteral("; ")));
    return lines;
}

std::vector<TreeNode> buildTree(const std::vector<SignatureResult>& signers,
                                const std::optional<PdfResult>& pdf)
{
    std::vector<TreeNode> nodes;
    TreeNode root =
        node(keys::kRoot, QString(), QStringLiteral("Certificados e Assinaturas"), keys::kCertTree);
    root.expanded = true;
    nodes.push_back(std::move(root));
    for (const SignatureResult& entry : signers)
        appendSigner(entry, pdf, nodes);
    if (!pdf)
        return nodes;
    for (const PdfSignatureResult& signature : pdf->signatures) {
        if (!signature.documentTimeStamp || !signature.timestamp)
            continue;
        const QString key = keys::documentTimeStamp(signature.index);
        TreeNode stamp =
            node(key, keys::kRoot,
                 QStringLiteral("Documento: ") + timeStampNodeText(*signature.timestamp),
                 keys::kInfoTime);
        stamp.description = verdictLine(signature.timestamp->judgement);
        nodes.push_back(std::move(stamp));
        appendPdfNodes(signature, pdf->revisions, key, key + QStringLiteral("R"),
                       key + QStringLiteral("C"), nodes);
    }
    return nodes;
}

} // namespace selavia::verify
