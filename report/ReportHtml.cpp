#include "report/ReportHtml.h"

#include "fileinfo/FileHandler.h"
#include "selavia/Version.h"
#include "verify/CadesText.h"
#include "verify/CertificateClass.h"
#include "verify/SignatureTree.h"

#include <QFileInfo>
#include <QLocale>

namespace selavia::report {
namespace {

namespace sig = signature;
using verify::Judgement;
using verify::SignatureResult;
using verify::ValidationResult;

// Everything shown comes from the file or the system: escaped, always.
QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

// "07/12/2026 02:40:00 (horário local, UTC-03:00) — 07/12/2026 05:40:00 UTC"
QString bothTimes(const QDateTime& moment)
{
    if (!moment.isValid())
        return QStringLiteral("não disponível");
    return fileinfo::LocalDateText(moment) +
           QStringLiteral(" (horário local, UTC%1) — ").arg(fileinfo::UtcOffsetText(moment)) +
           fileinfo::UtcDateText(moment);
}

QString sizeText(qint64 bytes)
{
    return fileinfo::SizeText(bytes) + QStringLiteral(" (") +
           QLocale(QLocale::Portuguese, QLocale::Brazil).toString(bytes) +
           QStringLiteral(" bytes)");
}

QString line(const QString& label, const QString& escapedValue)
{
    return QStringLiteral("<b>%1:</b> %2<br>").arg(label, escapedValue);
}

QString section(const QString& title)
{
    return QStringLiteral("<h2>%1</h2>").arg(esc(title));
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QString trustSourcesText(const sig::TrustSources& sources)
{
    QStringList parts;
    if (!sources.systemFolders.isEmpty() || !sources.systemFile.isEmpty()) {
        QStringList where = sources.systemFolders;
        if (!sources.systemFile.isEmpty())
            where << sources.systemFile;
        parts
            << QStringLiteral("repositório do sistema (%1)").arg(where.join(QStringLiteral(", ")));
    }
    if (!sources.bundledRoots.isEmpty())
        parts << QStringLiteral("raízes ICP-Brasil e gov.br do programa (%1)")
                     .arg(sources.bundledRoots.join(QStringLiteral(", ")));
    if (sources.added > 0)
        parts << QStringLiteral("%1 certificado(s) confiável(is) indicado(s) para esta verificação")
                     .arg(sources.added);
    if (parts.isEmpty())
        return QStringLiteral("nenhuma: nenhum certificado é confiável");
    return parts.join(QStringLiteral("; "));
}

QString checkSection(const ValidationResult& document)
{
    return QStringLiteral("<p>") +
           line(QStringLiteral("Programa"), QStringLiteral("Selavia Reader %1.%2.%3")
                                                .arg(kVersionMajor)
                                                .arg(kVersionMinor)
                                                .arg(kVersionRevision)) +
           line(QStringLiteral("Data e hora da verificação"), esc(bothTimes(document.checkedAt))) +
           line(QStringLiteral("Consulta à rede"),
                document.offline
                    ? QStringLiteral("não (verificação offline: revogação só do arquivo e da "
                                     "cópia local)")
                    : QStringLiteral("sim (verificação online)")) +
           line(QStringLiteral("Fontes de confiança"),
                esc(trustSourcesText(document.trustSources))) +
           QStringLiteral("</p>");
}

QString signedFileSection(const ValidationResult& document)
{
    return section(QStringLiteral("Arquivo assinado")) + QStringLiteral("<p>") +
           line(QStringLiteral("Nome"), esc(QFileInfo(document.filePath).fileName())) +
           line(QStringLiteral("Tamanho"), document.signedFileSize >= 0
                                               ? esc(sizeText(document.signedFileSize))
                                               : QStringLiteral("não disponível")) +
           line(QStringLiteral("SHA-256"), esc(signedFileSumText(document))) +
           QStringLiteral("</p>");
}

QString originalSection(const ValidationResult& document)
{
    QString html = section(QStringLiteral("Documento original")) + QStringLiteral("<p>");
    if (!document.verified())
        return html + QStringLiteral("Não disponível: a verificação do arquivo falhou.</p>");
    return html + line(QStringLiteral("Nome"), esc(document.originalName)) +
           line(QStringLiteral("Tamanho"), esc(sizeText(document.contentSize))) +
           line(QStringLiteral("SHA-256"), hex(document.contentSha256)) + QStringLiteral("</p>");
}

QString reasonsList(const Judgement& judgement)
{
    if (judgement.reasons.empty())
        return QStringLiteral("<p>Nenhuma ressalva.</p>");
    QString html = QStringLiteral("<ul>");
    for (const verify::VerdictReason& reason : judgement.reasons)
        // The code starts a line of its own, so it is never broken at a hyphen.
        html += QStringLiteral("<li>%1<br><span style=\"color:#555555\">código: %2</span></li>")
                    .arg(esc(reason.text), esc(reason.code));
    return html + QStringLiteral("</ul>");
}

QString verdictWord(verify::Verdict verdict, int pointSize)
{
    return QStringLiteral("<span style=\"font-size:%1pt; font-weight:bold; color:%2\">%3</span>")
        .arg(pointSize)
        .arg(verdictColour(verdict).name(), esc(verify::verdictWord(verdict)));
}

QString fileVerdictSection(const ValidationResult& document, const Judgement& judgement)
{
    QString html = section(QStringLiteral("Resultado da verificação")) + QStringLiteral("<p>") +
                   verdictWord(judgement.verdict, 28) + QStringLiteral("</p>") +
                   reasonsList(judgement);
    if (document.error) {
        QString text = document.error->text;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        html += QStringLiteral("<p>") + line(QStringLiteral("Erro"), esc(document.error->caption)) +
                esc(text.trimmed()).replace(QLatin1Char('\n'), QStringLiteral("<br>")) +
                QStringLiteral("</p>");
    }
    return html;
}

QString orNone(const QString& text, const QString& none)
{
    return text.isEmpty() ? none : esc(text);
}

QString timestampText(const SignatureResult& signer)
{
    if (!signer.timestamp)
        return QStringLiteral("nenhum");
    const verify::TimeStampResult& token = *signer.timestamp;
    QString text =
        token.genTime.isValid() ? bothTimes(token.genTime) : QStringLiteral("data ilegível");
    text += QStringLiteral(" — ACT: ") +
            (token.tsaName.isEmpty() ? QStringLiteral("não identificada") : token.tsaName);
    text += token.valid
                ? QStringLiteral(" — válido")
                : QStringLiteral(" — inválido: ") + token.problems.join(QStringLiteral("; "));
    return esc(text);
}

QString policyText(const SignatureResult& signer)
{
    if (!signer.policy)
        return QStringLiteral("nenhuma declarada");
    const verify::PolicyCheck& policy = *signer.policy;
    QString text = policy.name.isEmpty()
                       ? policy.oid
                       : policy.name + QStringLiteral(" (") + policy.oid + QLatin1Char(')');
    text += policy.conforms ? QStringLiteral(" — conforme") : QStringLiteral(" — não conforme");
    if (!policy.problems.isEmpty())
        text += QStringLiteral(": ") + policy.problems.join(QStringLiteral("; "));
    return esc(text);
}

// Counter-signatures count in the file's verdict: the signer's section says
// whose they are and how each was judged, so a reason has a place to come from.
QString counterSignaturesList(const SignatureResult& signer)
{
    QString html;
    for (const verify::CounterSignatureResult& counter : signer.counterSignatures) {
        html += QStringLiteral("<p style=\"margin-left:%1px\">").arg(18 * counter.level) +
                line(QStringLiteral("Contra-assinatura de"),
                     orNone(counter.signerName, QStringLiteral("não identificado"))) +
                line(QStringLiteral("Data"), counter.signingTime.isValid()
                                                 ? esc(bothTimes(counter.signingTime))
                                                 : QStringLiteral("não informada")) +
                line(QStringLiteral("Resultado"), verdictWord(counter.judgement.verdict, 10)) +
                QStringLiteral("</p>") + reasonsList(counter.judgement);
    }
    return html;
}

QString simpleName(const verify::CertificateFacts& certificate)
{
    // An unreadable name was left empty when the certificate was read.
    return certificate.simpleName.isEmpty() ? QStringLiteral("(certificado ilegível)")
                                            : certificate.simpleName;
}

QString chainList(const SignatureResult& signer)
{
    if (signer.status.chain.empty())
        return QStringLiteral("<p>Nenhuma cadeia pôde ser montada.</p>");
    // Paragraphs rather than a numbered list: a page break then never
    // repeats a number on the next page.
    QString html;
    int position = 0;
    for (const verify::ChainLinkStatus& link : signer.status.chain) {
        html += QStringLiteral("<p style=\"margin-left:18px\"><b>%1. %2</b><br>Revogação: %3<br>"
                               "Fonte: %4")
                    .arg(++position)
                    .arg(esc(simpleName(link.certificate)),
                         esc(sig::revocationSummary(link.revocation)),
                         esc(sig::revocationSourceText(link.revocation.source)));
        if (!link.problems.isEmpty())
            html +=
                QStringLiteral("<br>Problemas: ") + esc(link.problems.join(QStringLiteral("; ")));
        html += QStringLiteral("</p>");
    }
    return html;
}

// What a reader may not know of a gov.br signature, told under its class.
QString frameworkNote(sig::TrustFramework framework)
{
    if (framework != sig::TrustFramework::GovBr)
        return {};
    return QStringLiteral(
        "<i>Assinatura eletrônica avançada feita pelo serviço gov.br do Governo Federal: aceita "
        "por órgãos públicos, não é uma assinatura qualificada ICP-Brasil.</i><br>");
}

// Where a PDF's signature sits in the document and what changed after it.
QString pdfLines(const verify::PdfSignatureResult& signature, int revisions)
{
    QString html =
        line(QStringLiteral("Assinatura no PDF"),
             esc(QStringLiteral("campo \"%1\", intervalo [%2]").arg(signature.field, [&] {
                 QStringList values;
                 for (qint64 value : signature.byteRange)
                     values << QString::number(value);
                 return values.join(QLatin1Char(' '));
             }())));
    html += line(QStringLiteral("Revisão"), esc(verify::revisionText(signature, revisions)));
    const QStringList changes = verify::changeLines(signature);
    html += line(QStringLiteral("Alterações posteriores"),
                 changes.isEmpty() ? QStringLiteral("nenhuma")
                                   : esc(changes.join(QStringLiteral("; "))));
    return html;
}

QString pdfPart(const SignatureResult& signer, const std::optional<verify::PdfResult>& pdf)
{
    if (!pdf)
        return {};
    for (const verify::PdfSignatureResult& signature : pdf->signatures) {
        if (signature.signer == signer.index)
            return pdfLines(signature, pdf->revisions);
    }
    return {};
}

// A PDF's document time-stamps, each with its verdict and what it covers.
QString documentStampsSection(const std::optional<verify::PdfResult>& pdf)
{
    QString html;
    for (const verify::PdfSignatureResult& signature :
         pdf ? pdf->signatures : std::vector<verify::PdfSignatureResult>{}) {
        if (!signature.documentTimeStamp || !signature.timestamp)
            continue;
        const verify::TimeStampResult& stamp = *signature.timestamp;
        html += section(QStringLiteral("Carimbo do tempo do documento %1").arg(signature.index)) +
                QStringLiteral("<p>") +
                line(QStringLiteral("Resultado"), verdictWord(stamp.judgement.verdict, 12)) +
                QStringLiteral("</p>") + reasonsList(stamp.judgement) + QStringLiteral("<p>") +
                line(QStringLiteral("Carimbo"), esc(verify::timeStampNodeText(stamp))) +
                pdfLines(signature, pdf->revisions) + QStringLiteral("</p>");
    }
    return html;
}

QString signerSection(const SignatureResult& signer, const std::optional<verify::PdfResult>& pdf)
{
    const Judgement& judgement = signer.judgement;
    const QString none = QStringLiteral("não informado");
    QString signing = signer.signingTime.isEmpty()
                          ? QStringLiteral("não informada")
                          : esc(signer.signingTime + QLatin1Char(' ') + signer.timestampOrigin);
    return section(QStringLiteral("Signatário %1").arg(signer.index)) + QStringLiteral("<p>") +
           line(QStringLiteral("Nome"), orNone(signer.holderName, none)) +
           line(QStringLiteral("CPF"), orNone(signer.identity, none)) +
           line(QStringLiteral("E-mail"), orNone(signer.email, none)) +
           line(QStringLiteral("Classe do certificado"),
                esc(verify::signerCaption(signer.certificateClass, signer.trustFramework))) +
           frameworkNote(signer.trustFramework) +
           line(QStringLiteral("Resultado"), verdictWord(judgement.verdict, 12)) +
           QStringLiteral("</p>") + reasonsList(judgement) + QStringLiteral("<p>") +
           line(QStringLiteral("Data da assinatura e origem"), signing) +
           line(QStringLiteral("Carimbo do tempo"), timestampText(signer)) +
           line(QStringLiteral("Política de assinatura"), policyText(signer)) +
           pdfPart(signer, pdf) +
           line(QStringLiteral("Número de série do certificado"),
                orNone(signer.serialNumber, none)) +
           line(QStringLiteral("Impressão digital (SHA-1)"), orNone(signer.thumbprint, none)) +
           line(QStringLiteral("Validade do certificado"),
                esc(signer.validFromText + QStringLiteral(" a ") + signer.validToText)) +
           QStringLiteral("<b>Cadeia de certificados:</b></p>") + chainList(signer) +
           counterSignaturesList(signer);
}

} // namespace

QColor verdictColour(verify::Verdict verdict)
{
    switch (verdict) {
    case verify::Verdict::Approved:
        return QColor(0x1e, 0x7b, 0x34);
    case verify::Verdict::Indeterminate:
        return QColor(0xb3, 0x6b, 0x00);
    case verify::Verdict::Rejected:
        break;
    }
    return QColor(0xb0, 0x00, 0x20);
}

QString signedFileSumText(const ValidationResult& document)
{
    return document.signedFileSha256.isEmpty() ? QStringLiteral("não disponível")
                                               : hex(document.signedFileSha256);
}

QString reportHtml(const ValidationResult& document)
{
    QString html = QStringLiteral("<h1>Relatório de Verificação de Assinaturas</h1>") +
                   checkSection(document) + signedFileSection(document) +
                   originalSection(document) + fileVerdictSection(document, document.verdict);
    for (const SignatureResult& signer : document.signers)
        html += signerSection(signer, document.pdf);
    return html + documentStampsSection(document.pdf);
}

} // namespace selavia::report
