#include "SignatureTree.h"

#include "fileinfo/FileHandler.h"
#include "verify/CadesText.h"
#include "verify/DocumentName.h"
#include "verify/SignerIdentity.h"
#include "verify/TreeKeys.h"

#include <exception>

namespace selavia::verify {
namespace {

namespace sig = signature;

// A value that cannot be read leaves its field empty and the rest goes on.
template <typename Step> void attempt(Step&& step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}

// Blanks only: a marker with a tab or a line break around it is not one.
QString withoutOuterBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

void readIdentity(const sig::Certificate& certificate, SignerEntry& entry)
{
    // Names come from the file's certificates, which anyone can write: what
    // is shown holds no control or reordering characters.
    if (std::optional<QString> identity = GetSignerIdentity(certificate)) {
        const QStringList parts = identity->split(QLatin1Char(':'));
        entry.holderName = displayText(parts.value(0));
        entry.identity = displayText(parts.value(1));
        return;
    }
    // Without ICP-Brasil data the signer is still shown by its name.
    attempt([&] {
        entry.holderName = displayText(certificate.getInfo(sig::CertificateInfo::SubjectSimpleName)
                                           .section(QLatin1Char(':'), 0, 0));
    });
}

void readAttributes(const sig::Signer& signer, SignerEntry& entry)
{
    for (const sig::Attribute& attribute : signer.authenticatedAttributes()) {
        if (!attribute.value.isValid())
            continue;
        switch (attribute.name) {
        case sig::AttributeName::SigningTime:
            entry.signingTime = fileinfo::GeneralDateText(attribute.value.toDateTime());
            break;
        case sig::AttributeName::DocumentName:
            if (std::optional<QString> name = acceptedDocumentName(attribute.value.toString()))
                entry.documentName = *name;
            break;
        case sig::AttributeName::DocumentDescription:
            entry.timestampOrigin =
                timestampOriginText(withoutOuterBlanks(attribute.value.toString()));
            break;
        case sig::AttributeName::Other:
            break;
        }
    }
}

void readTechnicalData(const sig::Certificate& certificate, SignerEntry& entry)
{
    attempt([&] {
        entry.email = displayText(certificate.getInfo(sig::CertificateInfo::SubjectEmail));
    });
    attempt([&] {
        entry.validFrom = certificate.validFromDate();
        entry.validFromText = fileinfo::GeneralDateText(entry.validFrom);
    });
    attempt([&] {
        entry.validTo = certificate.validToDate();
        entry.validToText = fileinfo::GeneralDateText(entry.validTo);
    });
    attempt([&] { entry.version = certificate.version(); });
    attempt([&] { entry.serialNumber = certificate.serialNumber(); });
    attempt([&] { entry.thumbprint = certificate.thumbprint(); });
}

// The token that counts: the first that verifies, else the first.
std::optional<sig::TimeStampToken> countingToken(const std::vector<sig::TimeStampToken>& tokens)
{
    if (tokens.empty())
        return std::nullopt;
    for (const sig::TimeStampToken& token : tokens) {
        if (token.valid)
            return token;
    }
    return tokens.front();
}

void readTimeStamp(const sig::Signer& signer, SignerEntry& entry)
{
    entry.timestamp = countingToken(signer.cades().timeStamps);
    if (!entry.timestamp || !entry.timestamp->valid)
        return;
    const sig::CertificateStatus then =
        signer.certificate().isValidAt(sig::CertificateRole::Signer, entry.timestamp->genTime);
    entry.validAtTimestamp = then.result;
    entry.validAtTimestampProblems = then.problems;
}

CounterSignatureEntry judgedCounterSignature(const sig::CounterSignature& counter)
{
    CounterSignatureEntry entry{counter, false, counter.problems};
    if (!counter.certificate.isNull())
        entry.problems << counter.certificate.isValid(sig::CertificateRole::Signer).problems;
    entry.valid = counter.signatureValid && entry.problems.isEmpty();
    return entry;
}

void readCades(const sig::Signer& signer, SignerEntry& entry)
{
    const sig::CadesInfo& cades = signer.cades();
    readTimeStamp(signer, entry);
    entry.policy = checkSignaturePolicy(signer);
    entry.signingCertificateMismatch =
        cades.signingCertificate.binding == sig::CertificateBinding::Mismatch;
    for (const sig::CounterSignature& counter : cades.counterSignatures)
        entry.counterSignatures.push_back(judgedCounterSignature(counter));
    entry.problems = cades.signingCertificate.problems + cades.problems;
}

TreeNode node(QString key, QString parentKey, QString text, QString imageKey)
{
    TreeNode result;
    result.key = std::move(key);
    result.parentKey = std::move(parentKey);
    result.text = std::move(text);
    result.imageKey = std::move(imageKey);
    return result;
}

QString chainNodeText(const sig::Certificate& certificate)
{
    QString text;
    attempt([&] { text = certificate.getInfo(sig::CertificateInfo::SubjectSimpleName); });
    return displayText(text);
}

void appendSigner(const SignerEntry& entry, std::vector<TreeNode>& nodes)
{
    using keys::SignerNode;
    const auto key = [&entry](SignerNode which) { return keys::signerNode(which, entry.index); };
    const QString signerKey = key(SignerNode::Signer);
    const QString technicalKey = key(SignerNode::Technical);
    const QString chainKey = key(SignerNode::Chain);

    TreeNode signerNode =
        node(signerKey, keys::kRoot, entry.holderName, imageKey(entry.certificateClass));
    signerNode.expanded = true;
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
    for (const sig::Certificate& certificate : entry.chain) {
        TreeNode certificateNode = node(keys::chainCertificate(entry.index, ++position), chainKey,
                                        chainNodeText(certificate), keys::kCertificate);
        certificateNode.certificate = certificate;
        if (position == 1)
            certificateNode.signerIndex = entry.index;
        nodes.push_back(std::move(certificateNode));
    }
}

} // namespace

SignerEntry readSigner(const sig::Signer& signer, int index)
{
    SignerEntry entry;
    entry.index = index;
    const sig::Certificate& certificate = signer.certificate();
    // An empty certificate has nothing to read, and most of its accessors
    // expect a handle.
    if (!certificate.isNull())
        readIdentity(certificate, entry);
    entry.certificateClass = classifySigner(signer);
    // Worked out once already by the classification, so this is a look-up.
    attempt([&] { entry.status = certificate.isValid(sig::CertificateRole::Signer); });
    readAttributes(signer, entry);
    if (!certificate.isNull())
        readTechnicalData(certificate, entry);
    attempt([&] { readCades(signer, entry); });
    // Built again from the signer's certificate; one that cannot be built
    // leaves the list empty.
    attempt([&] {
        sig::Chain chain;
        chain.build(certificate);
        entry.chain.assign(chain.certificates().begin(), chain.certificates().end());
    });
    return entry;
}

QString timestampOriginText(const QString& trimmedDescription)
{
    if (trimmedDescription == QLatin1String("<ct>CARIMBO_LOCAL</ct>"))
        return QStringLiteral("(LOCAL)");
    if (trimmedDescription == QLatin1String("<ct>CARIMBO_ON</ct>"))
        return QStringLiteral("(ON Observatório Nacional - Hora Legal Brasileira)");
    return QStringLiteral("(Fonte Desconhecida)");
}

std::vector<TreeNode> buildTree(const std::vector<SignerEntry>& signers)
{
    std::vector<TreeNode> nodes;
    TreeNode root =
        node(keys::kRoot, QString(), QStringLiteral("Certificados e Assinaturas"), keys::kCertTree);
    root.expanded = true;
    nodes.push_back(std::move(root));
    for (const SignerEntry& entry : signers)
        appendSigner(entry, nodes);
    return nodes;
}

} // namespace selavia::verify
