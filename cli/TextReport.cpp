#include "cli/TextReport.h"

#include "fileinfo/FileHandler.h"
#include "fileinfo/PathText.h"
#include "verify/CadesText.h"
#include "verify/CertificateClass.h"
#include "verify/Conformity.h"
#include "verify/ResultSummary.h"
#include "verify/TreeKeys.h"
#include "verify/Verdict.h"

#include <QTextStream>
#include <map>

namespace selavia::cli {
namespace {

using fileinfo::printableText;
using verify::ValidationResult;

QString yesNo(bool value)
{
    return value ? QStringLiteral("sim") : QStringLiteral("não");
}

void writeReasons(const verify::Judgement& judgement, const QString& indent, QTextStream& out)
{
    for (const verify::VerdictReason& reason : judgement.reasons)
        out << indent << QStringLiteral("- ") << printableText(reason.text) << QStringLiteral(" [")
            << printableText(reason.code) << QStringLiteral("]\n");
}

// The file's verdict and why. The headline is the one the window and the
// PDF show, with what it needs beside it; the reasons follow one a line
// with their codes, so it leaves them out.
void writeVerdict(const ValidationResult& result, QTextStream& out)
{
    verify::Judgement headline;
    headline.verdict = result.verdict.verdict;
    out << verify::verdictLine(headline);
    if (const QString qualifier = verify::verdictQualifier(result); !qualifier.isEmpty())
        out << QLatin1Char(' ') << qualifier;
    out << '\n';
    writeReasons(result.verdict, QStringLiteral("  "), out);
}

// The tree with two blanks of indentation per level; signer nodes name
// their class in words, since a terminal has no icons.
void writeTree(const ValidationResult& result, QTextStream& out)
{
    using verify::keys::SignerNode;
    std::map<QString, int> depth;
    std::map<QString, QString> signerCaption;
    // The window's "Carimbo de Tempo" is the time the signer claims; here,
    // beside real time-stamps, it is called what it is.
    std::map<QString, QString> claimedTime;
    for (const verify::SignatureResult& signer : result.signers) {
        signerCaption[verify::keys::signerNode(SignerNode::Signer, signer.index)] =
            verify::signerCaption(signer.certificateClass, signer.trustFramework);
        claimedTime[verify::keys::signerNode(SignerNode::Time, signer.index)] =
            QStringLiteral("Data declarada pelo signatário: ") +
            verify::claimedSigningTimeText(signer);
    }
    for (const verify::TreeNode& node : result.tree) {
        const int level = node.parentKey.isEmpty() ? 0 : depth[node.parentKey] + 1;
        depth[node.key] = level;
        const auto claimed = claimedTime.find(node.key);
        out << QString(level * 2, QLatin1Char(' '))
            << printableText(claimed != claimedTime.end() ? claimed->second : node.text);
        if (auto found = signerCaption.find(node.key); found != signerCaption.end())
            out << QStringLiteral("  [") << found->second << QLatin1Char(']');
        out << '\n';
    }
}

// What each signer's CAdES pieces say, for the signers that have any.
void writeCades(const ValidationResult& result, QTextStream& out)
{
    bool headed = false;
    for (const verify::SignatureResult& signer : result.signers) {
        const verify::CadesLines lines = verify::cadesLines(signer);
        if (lines.isEmpty())
            continue;
        if (!headed)
            out << QStringLiteral("\nCarimbos do tempo, políticas e contra-assinaturas:\n");
        headed = true;
        out << QStringLiteral("  %1. %2\n").arg(signer.index).arg(printableText(signer.holderName));
        QStringList all{lines.timeStamp, lines.validAtTimestamp, lines.policy};
        all << lines.counterSignatures;
        for (const QString& problem : lines.problems)
            all << QStringLiteral("Problema: ") + problem;
        for (const QString& line : all) {
            if (!line.isEmpty())
                out << QStringLiteral("    ") << printableText(line) << '\n';
        }
    }
}

// Each signer's chain with the revocation status of every certificate.
void writeRevocation(const ValidationResult& result, QTextStream& out)
{
    const QString heading = result.atGiven
                                ? QStringLiteral("\nSituação de revogação na data de %1\n")
                                : QStringLiteral("\nSituação de revogação, consultada em %1\n");
    out << heading.arg(fileinfo::UtcDateText(result.checkedAt))
        << QStringLiteral("Consulta à rede: %1\n").arg(verify::networkText(result));
    for (const verify::SignatureResult& signer : result.signers) {
        out << QStringLiteral("  %1. %2\n").arg(signer.index).arg(printableText(signer.holderName));
        for (const verify::ChainLinkStatus& link : signer.status.chain)
            out << QStringLiteral("    ") << printableText(link.certificate.displayName)
                << QStringLiteral(": ")
                << printableText(signature::revocationSummary(link.revocation)) << '\n';
    }
}

// Each signer's verdict and why.
void writeSignerVerdicts(const ValidationResult& result, QTextStream& out)
{
    out << QStringLiteral("\nResultado por signatário:\n");
    for (const verify::SignatureResult& signer : result.signers) {
        out << QStringLiteral("  %1. %2: ").arg(signer.index).arg(printableText(signer.holderName))
            << verify::verdictWord(signer.judgement.verdict) << '\n';
        writeReasons(signer.judgement, QStringLiteral("    "), out);
    }
}

// The failure's text, one line of output per line of it: the unreadable
// file's name, which it quotes, is escaped as every name is.
QString failureText(const verify::VerificationError& error)
{
    QString text = error.text;
    if (!error.unreadablePath.isEmpty())
        text.replace(error.unreadablePath, printableText(error.unreadablePath));
    QStringList lines = text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                            .trimmed()
                            .split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = printableText(line);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QString textReport(const ValidationResult& result)
{
    QString report;
    QTextStream out(&report);
    out << QStringLiteral("Arquivo: ") << printableText(result.filePath) << '\n';
    if (!result.verified()) {
        out << QStringLiteral("Verificação: FALHOU\n") << printableText(result.error->caption)
            << '\n'
            << failureText(*result.error) << '\n';
        writeVerdict(result, out);
        return report;
    }
    out << QStringLiteral("Verificação: documento íntegro, assinaturas conferem\n")
        << QStringLiteral("Documento original: ") << printableText(result.originalName)
        << (result.hasExtension ? QString() : QStringLiteral(" (sem extensão)")) << '\n'
        << QStringLiteral("Tamanho: ") << fileinfo::SizeText(result.contentSize)
        << QStringLiteral(" (") << result.contentSize << QStringLiteral(" bytes)\n")
        << QStringLiteral("SHA-256: ") << result.contentSha256.toHex() << '\n'
        << QStringLiteral("Todos os certificados ICP-Brasil válidos: ")
        << yesNo(result.signaturesOk) << '\n';
    writeVerdict(result, out);
    out << '\n';
    writeTree(result, out);
    writeCades(result, out);
    writeRevocation(result, out);
    writeSignerVerdicts(result, out);
    return report;
}

} // namespace selavia::cli
