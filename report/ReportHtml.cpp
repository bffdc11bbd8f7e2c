#include "report/ReportHtml.h"

#include "fileinfo/FileHandler.h"
#include "fileinfo/PathText.h"
#include "selavia/Version.h"
#include "verify/CadesText.h"
#include "verify/CertificateClass.h"
#include "verify/Conformity.h"
#include "verify/DocumentName.h"
#include "verify/ResultSummary.h"
#include "verify/SignatureTree.h"

#include <QCollator>
#include <QFileInfo>
#include <QLocale>

namespace selavia::report {
namespace {

namespace sig = signature;
using verify::Judgement;
using verify::SignatureResult;
using verify::ValidationResult;

// The report is a Brazilian document: its numbers read the Brazilian way
// whatever the locale of the machine that wrote it.
const QLocale kBrazil(QLocale::Portuguese, QLocale::Brazil);

// Everything shown comes from the file or the system: escaped, always.
QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

// A name read from a file, without what could hide or reorder text.
QString name(const QString& text)
{
    return esc(verify::displayText(text));
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

QString validityText(const QDateTime& from, const QDateTime& to)
{
    const auto zoned = [](const QDateTime& moment) {
        return moment.isValid() ? fileinfo::UtcDateText(moment) : QStringLiteral("ilegível");
    };
    return QStringLiteral("de %1 a %2").arg(zoned(from), zoned(to));
}

QString sizeText(qint64 bytes)
{
    return fileinfo::SizeText(bytes, kBrazil) + QStringLiteral(" (") + kBrazil.toString(bytes) +
           QStringLiteral(" bytes)");
}

QString line(const QString& label, const QString& escapedValue)
{
    return QStringLiteral("<b>%1:</b> %2<br>").arg(label, escapedValue);
}

QString paragraph(QString content, int indent = 0)
{
    // A paragraph of lines ends at its last line, not at a blank one.
    if (content.endsWith(QLatin1String("<br>")))
        content.chop(4);
    return QStringLiteral("<p style=\"margin-left:%1px\">%2</p>").arg(indent).arg(content);
}

QString section(const QString& escapedTitle)
{
    return QStringLiteral("<h2>%1</h2>").arg(escapedTitle);
}

QString subsection(const QString& title)
{
    return QStringLiteral("<h3>%1</h3>").arg(esc(title));
}

// A label over the items that follow it: a heading, so it is never left
// alone at the foot of a page.
QString label(const QString& text)
{
    return QStringLiteral("<h4>%1</h4>").arg(esc(text));
}

// One paragraph per item: a list's bullets are not text a reader can copy.
QString items(const QStringList& escapedItems, int indent = 12)
{
    QString html;
    for (const QString& item : escapedItems)
        html += paragraph(QStringLiteral("• ") + item, indent);
    return html;
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QString programText()
{
    return QStringLiteral("Selavia Reader %1.%2.%3")
        .arg(kVersionMajor)
        .arg(kVersionMinor)
        .arg(kVersionRevision);
}

// The bundled roots by name in natural order (v2 before v10), each with
// its fingerprint; then the system's store and the certificates added.
QStringList trustSourceItems(const sig::TrustSources& sources)
{
    std::vector<sig::BundledAnchor> anchors = sources.bundledAnchors;
    QCollator collator(kBrazil);
    collator.setNumericMode(true);
    std::sort(anchors.begin(), anchors.end(),
              [&](const sig::BundledAnchor& a, const sig::BundledAnchor& b) {
                  return collator.compare(a.name, b.name) < 0;
              });
    QStringList lines;
    for (const sig::BundledAnchor& anchor : anchors)
        lines << esc(anchor.name) + QStringLiteral(" (raiz do programa) — SHA-256 ") +
                     QString::fromLatin1(anchor.sha256Hex);
    if (!sources.systemFolders.isEmpty() || !sources.systemFile.isEmpty()) {
        QStringList where = sources.systemFolders;
        if (!sources.systemFile.isEmpty())
            where << sources.systemFile;
        lines << esc(QStringLiteral("repositório de certificados do sistema (%1)")
                         .arg(where.join(QStringLiteral(", "))));
    }
    if (sources.added > 0)
        lines << QStringLiteral("%1 certificado(s) confiável(is) indicado(s) para esta "
                                "verificação")
                     .arg(sources.added);
    if (lines.isEmpty())
        lines << QStringLiteral("nenhuma: nenhum certificado é confiável");
    return lines;
}

// The lists of accepted policies the signers' policies were judged
// against, each once, with the date its issuer promised the next.
QStringList policyListItems(const ValidationResult& document)
{
    QStringList lines;
    for (const SignatureResult& signer : document.signers) {
        if (!signer.policy || signer.policy->listName.isEmpty())
            continue;
        const QString item = esc(signer.policy->listName) +
                             QStringLiteral(" — próxima atualização prevista: ") +
                             esc(signer.policy->listNextUpdate.isValid()
                                     ? fileinfo::UtcDateText(signer.policy->listNextUpdate)
                                     : QStringLiteral("não informada"));
        if (!lines.contains(item))
            lines << item;
    }
    return lines;
}

QString checkSection(const ValidationResult& document)
{
    return QStringLiteral("<p>") + line(QStringLiteral("Programa"), esc(programText())) +
           line(QStringLiteral("Data e hora da verificação"),
                // A time asked for is not the time the program ran.
                document.atGiven
                    ? esc(QStringLiteral("verificação na data de ") +
                          bothTimes(document.checkedAt)) +
                          QStringLiteral(", dada ao programa (não é a hora em que ele rodou)")
                    : esc(bothTimes(document.checkedAt)) +
                          QStringLiteral(", pelo relógio deste computador")) +
           (document.trust.isEmpty()
                ? QString()
                : line(QStringLiteral("Dados de confiança"), esc(document.trust))) +
           line(QStringLiteral("Consulta à rede"), esc(verify::networkText(document))) +
           QStringLiteral("</p>") + label(QStringLiteral("Fontes de confiança:")) +
           items(trustSourceItems(document.trustSources)) +
           label(QStringLiteral("Listas de políticas de assinatura usadas:")) + [&] {
               const QStringList lists = policyListItems(document);
               return lists.isEmpty() ? items({QStringLiteral("nenhuma: nenhuma assinatura "
                                                              "declara política da ICP-Brasil")})
                                      : items(lists);
           }();
}

QString signedFileSection(const ValidationResult& document)
{
    return section(QStringLiteral("Arquivo assinado")) + QStringLiteral("<p>") +
           line(QStringLiteral("Nome"),
                esc(fileinfo::printableText(QFileInfo(document.filePath).fileName()))) +
           line(QStringLiteral("Tamanho"), document.signedFileSize >= 0
                                               ? esc(sizeText(document.signedFileSize))
                                               : QStringLiteral("não disponível")) +
           line(QStringLiteral("SHA-256"), esc(signedFileSumText(document))) +
           line(QStringLiteral("Integridade"), esc(verify::integrityText(document))) +
           QStringLiteral("</p>");
}

QString originalSection(const ValidationResult& document)
{
    QString html = section(QStringLiteral("Documento original"));
    if (!document.verified())
        return html + paragraph(QStringLiteral("Não disponível: a verificação do arquivo falhou."));
    return html + paragraph(line(QStringLiteral("Nome"), name(document.originalName)) +
                            line(QStringLiteral("Tamanho"), esc(sizeText(document.contentSize))) +
                            line(QStringLiteral("SHA-256"), hex(document.contentSha256)));
}

// The reasons that weigh on the verdict, each with its code on a line of
// its own, so that a code is never broken at a hyphen.
QString reasonsList(const Judgement& judgement)
{
    if (judgement.reasons.empty())
        return paragraph(QStringLiteral("Nenhuma ressalva."));
    QStringList lines;
    for (const verify::VerdictReason& reason : judgement.reasons)
        lines << esc(reason.text) +
                     QStringLiteral("<br><span style=\"color:#555555\">código: %1</span>")
                         .arg(esc(reason.code));
    return label(QStringLiteral("Erros:")) + items(lines);
}

QString warningsList(const QStringList& warnings)
{
    if (warnings.isEmpty())
        return {};
    QStringList lines;
    for (const QString& warning : warnings)
        lines << esc(warning);
    return label(QStringLiteral("Avisos (não mudam o resultado):")) + items(lines);
}

QString verdictWord(verify::Verdict verdict, int pointSize)
{
    return QStringLiteral("<span style=\"font-size:%1pt; font-weight:bold; color:%2\">%3</span>")
        .arg(pointSize)
        .arg(verdictColour(verdict).name(), esc(verify::verdictWord(verdict)));
}

QString indicationText(const Judgement& judgement)
{
    QString text = verify::indicationName(judgement.indication);
    if (!judgement.subIndication.isEmpty())
        text += QStringLiteral(" / ") + judgement.subIndication;
    return esc(text);
}

QString noteParagraph(const QString& note)
{
    return note.isEmpty() ? QString() : paragraph(QStringLiteral("<i>%1</i>").arg(esc(note)));
}

QString fileVerdictSection(const ValidationResult& document, const Judgement& judgement)
{
    const QString qualifier = verify::verdictQualifier(document);
    QString html = section(QStringLiteral("Resultado da verificação")) +
                   paragraph(verdictWord(judgement.verdict, 28)) +
                   (qualifier.isEmpty() ? QString() : paragraph(esc(qualifier)));
    QString facts = line(QStringLiteral("Indicação"), indicationText(judgement));
    if (document.verified())
        facts += line(QStringLiteral("Assinaturas"), esc(verify::validSignaturesText(document)));
    html += paragraph(facts) + reasonsList(judgement) +
            noteParagraph(verify::legalPresumptionNote(document));
    if (document.error) {
        QString text = document.error->text;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        html += paragraph(line(QStringLiteral("Erro"), esc(document.error->caption)) +
                          esc(text.trimmed()).replace(QLatin1Char('\n'), QStringLiteral("<br>")));
    }
    return html;
}

QString orNone(const QString& text, const QString& none)
{
    return text.isEmpty() ? none : esc(text);
}

QString certificateName(const verify::CertificateFacts& certificate)
{
    // An unreadable name was left empty when the certificate was read.
    return certificate.displayName.isEmpty() ? QStringLiteral("(certificado ilegível)")
                                             : certificate.displayName;
}

// A time-stamp authority's chain: each certificate's name and validity.
QString tsaChainLines(const std::vector<verify::CertificateFacts>& chain)
{
    QStringList lines;
    for (const verify::CertificateFacts& certificate : chain)
        lines << esc(certificateName(certificate)) + QStringLiteral(" — validade ") +
                     esc(validityText(certificate.validFrom, certificate.validTo));
    return lines.isEmpty() ? QString() : label(QStringLiteral("Cadeia da ACT:")) + items(lines, 24);
}

QString timeStampEntry(const QString& kind, const verify::TimeStampResult& token)
{
    QString facts =
        line(kind, token.genTime.isValid() ? esc(bothTimes(token.genTime))
                                           : QStringLiteral("data ilegível")) +
        line(QStringLiteral("ACT"), orNone(token.tsaName, QStringLiteral("não identificada"))) +
        line(QStringLiteral("Situação"),
             token.valid
                 ? QStringLiteral("válido")
                 : esc(QStringLiteral("inválido: ") + token.problems.join(QStringLiteral("; ")))) +
        line(QStringLiteral("Resultado"),
             verdictWord(token.judgement.verdict, 10) + QStringLiteral(" (") +
                 indicationText(token.judgement) + QStringLiteral(")"));
    return paragraph(facts) + tsaChainLines(token.tsaChain);
}

QString timeStampsPart(const SignatureResult& signer)
{
    QString html = subsection(QStringLiteral("Carimbos do tempo"));
    if (!signer.timestamp && !signer.contentTimestamp && signer.archiveTimestamps.empty())
        return html + paragraph(QStringLiteral("Nenhum carimbo do tempo."));
    if (signer.timestamp)
        html += timeStampEntry(QStringLiteral("Carimbo do tempo da assinatura"), *signer.timestamp);
    if (signer.contentTimestamp)
        html += timeStampEntry(QStringLiteral("Carimbo do tempo do conteúdo"),
                               *signer.contentTimestamp);
    for (const verify::TimeStampResult& archive : signer.archiveTimestamps)
        html += timeStampEntry(QStringLiteral("Carimbo do tempo de arquivamento"), archive);
    return html;
}

// The policy, then one line for each thing checked or left unchecked.
QString policyPart(const SignatureResult& signer)
{
    QString html = subsection(QStringLiteral("Política de assinatura"));
    if (!signer.policy)
        return html + paragraph(QStringLiteral("Nenhuma declarada."));
    const verify::PolicyCheck& policy = *signer.policy;
    const QString named = policy.name.isEmpty()
                              ? policy.oid
                              : policy.name + QStringLiteral(" (") + policy.oid + QLatin1Char(')');
    html +=
        paragraph(line(QStringLiteral("Política"),
                       orNone(named, QStringLiteral("implícita, sem identificador"))) +
                  line(QStringLiteral("Conformidade"), esc(verify::policyConformityWord(policy))));
    QStringList lines;
    for (const QString& checked : policy.checked)
        lines << QStringLiteral("conferido: ") + esc(checked);
    for (const QString& attribute : policy.mandatedAttributes)
        lines << QStringLiteral("atributo obrigatório ") + esc(attribute);
    for (const verify::PolicyFinding& finding : policy.findings)
        lines << QStringLiteral("contra a política: ") + esc(finding.detail);
    for (const QString& unchecked : policy.notChecked)
        lines << QStringLiteral("não conferido: ") + esc(unchecked);
    for (const QString& warning : policy.warnings)
        lines << QStringLiteral("aviso: ") + esc(warning);
    return html + items(lines);
}

QString revocationEvidence(const sig::RevocationStatus& status)
{
    if (status.trustAnchor || status.source == sig::RevocationSource::None)
        return {};
    QString text = sig::revocationSourceText(status.source);
    if (status.thisUpdate.isValid())
        text += QStringLiteral("; emitida em ") + fileinfo::UtcDateText(status.thisUpdate);
    if (status.nextUpdate.isValid())
        text += QStringLiteral("; próxima até ") + fileinfo::UtcDateText(status.nextUpdate);
    return text;
}

QString chainEntry(const verify::ChainLinkStatus& link, int position, const QString& anchor)
{
    const verify::CertificateFacts& certificate = link.certificate;
    QString facts =
        QStringLiteral("<b>%1. %2</b><br>").arg(position).arg(esc(certificateName(certificate))) +
        line(QStringLiteral("Titular"), name(certificate.subject)) +
        line(QStringLiteral("Emissor"), name(certificate.issuer)) +
        line(QStringLiteral("Número de série"),
             orNone(certificate.serialNumber, QStringLiteral("—"))) +
        line(QStringLiteral("Validade"),
             esc(validityText(certificate.validFrom, certificate.validTo))) +
        line(QStringLiteral("SHA-256"), esc(verify::certificateSha256(certificate))) +
        line(QStringLiteral("Revogação"), esc(sig::revocationSummary(link.revocation)));
    const QString evidence = revocationEvidence(link.revocation);
    if (!evidence.isEmpty())
        facts += line(QStringLiteral("Evidência"), esc(evidence));
    if (!link.problems.isEmpty())
        facts += line(QStringLiteral("Problemas"), esc(link.problems.join(QStringLiteral("; "))));
    if (!anchor.isEmpty())
        facts += line(QStringLiteral("Âncora de confiança"), anchor);
    return paragraph(facts, 12);
}

QString chainPart(const ValidationResult& document, const SignatureResult& signer)
{
    QString html = subsection(QStringLiteral("Cadeia de certificados"));
    const std::vector<verify::ChainLinkStatus>& chain = signer.status.chain;
    if (chain.empty())
        return html + paragraph(QStringLiteral("Nenhuma cadeia pôde ser montada."));
    // Paragraphs rather than a numbered list: a page break then never
    // repeats a number on the next page.
    // The top of the chain says where it was trusted from, or that it was not.
    const QString anchor = esc(verify::anchorSourceText(document, signer.status));
    for (std::size_t n = 0; n < chain.size(); ++n)
        html += chainEntry(chain[n], static_cast<int>(n + 1),
                           n + 1 == chain.size() ? anchor : QString());
    return html;
}

// Counter-signatures count in the file's verdict: the signer's section says
// whose they are and how each was judged, so a reason has a place to come from.
QString counterSignaturesPart(const SignatureResult& signer)
{
    if (signer.counterSignatures.empty())
        return {};
    QString html = subsection(QStringLiteral("Contra-assinaturas"));
    for (const verify::CounterSignatureResult& counter : signer.counterSignatures) {
        html +=
            paragraph(
                line(QStringLiteral("Contra-assinatura de"),
                     orNone(counter.signerName, QStringLiteral("não identificado"))) +
                    line(QStringLiteral("Data declarada"), counter.signingTime.isValid()
                                                               ? esc(bothTimes(counter.signingTime))
                                                               : QStringLiteral("não informada")) +
                    line(QStringLiteral("Resultado"), verdictWord(counter.judgement.verdict, 10)),
                18 * (counter.level - 1)) +
            reasonsList(counter.judgement) + warningsList(counter.warnings);
    }
    return html;
}

// What a reader may not know of a gov.br signature, told under its class.
QString frameworkNote(sig::TrustFramework framework)
{
    if (framework != sig::TrustFramework::GovBr)
        return {};
    return paragraph(QStringLiteral(
        "<i>Assinatura eletrônica avançada feita pelo serviço gov.br do Governo Federal: aceita "
        "por órgãos públicos, não é uma assinatura qualificada ICP-Brasil.</i>"));
}

QString byteRangeText(const verify::PdfSignatureResult& signature)
{
    QStringList values;
    for (qint64 value : signature.byteRange)
        values << QString::number(value);
    return values.join(QLatin1Char(' '));
}

// Where a PDF's signature sits in the document and what changed after it.
QString pdfLines(const verify::PdfSignatureResult& signature, int revisions)
{
    const QStringList changes = verify::changeLines(signature);
    return line(QStringLiteral("Assinatura no PDF"),
                esc(QStringLiteral("campo \"%1\", intervalo [%2]")
                        .arg(verify::displayText(signature.field), byteRangeText(signature)))) +
           line(QStringLiteral("Revisão"), esc(verify::revisionText(signature, revisions))) +
           line(QStringLiteral("Alterações posteriores"),
                changes.isEmpty() ? QStringLiteral("nenhuma")
                                  : esc(changes.join(QStringLiteral("; "))));
}

QString pdfPart(const SignatureResult& signer, const std::optional<verify::PdfResult>& pdf)
{
    if (!pdf)
        return {};
    for (const verify::PdfSignatureResult& signature : pdf->signatures) {
        if (signature.signer == signer.index)
            return paragraph(pdfLines(signature, pdf->revisions));
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
        html +=
            section(esc(QStringLiteral("Carimbo do tempo do documento %1").arg(signature.index))) +
            paragraph(line(QStringLiteral("Resultado"), verdictWord(stamp.judgement.verdict, 12)) +
                      line(QStringLiteral("Indicação"), indicationText(stamp.judgement))) +
            reasonsList(stamp.judgement) +
            paragraph(line(QStringLiteral("Carimbo"), esc(verify::timeStampNodeText(stamp))) +
                      pdfLines(signature, pdf->revisions)) +
            tsaChainLines(stamp.tsaChain);
    }
    return html;
}

QString signerFacts(const ValidationResult& document, const SignatureResult& signer)
{
    const QString none = QStringLiteral("não informado");
    const QString validAtStamp = verify::cadesLines(signer).validAtTimestamp;
    QString facts =
        line(QStringLiteral("Nome"), orNone(signer.holderName, none)) +
        line(QStringLiteral("CPF"), orNone(signer.identity, none)) +
        line(QStringLiteral("E-mail"), orNone(signer.email, none)) +
        line(QStringLiteral("Classe do certificado"),
             esc(verify::signerCaption(signer.certificateClass, signer.trustFramework)) +
                 QStringLiteral(" (na data da verificação)")) +
        (validAtStamp.isEmpty() ? QString() : esc(validAtStamp) + QStringLiteral("<br>")) +
        line(QStringLiteral("Forma e nível"), esc(verify::signatureFormText(document, signer))) +
        line(QStringLiteral("Integridade"), esc(verify::integrityText(document, signer))) +
        line(QStringLiteral("Algoritmos"), esc(verify::algorithmsText(signer))) +
        line(QStringLiteral("Data declarada pelo signatário"),
             esc(verify::claimedSigningTimeText(signer))) +
        line(QStringLiteral("Melhor data comprovada da assinatura"),
             esc(bothTimes(signer.bestSignatureTime) + QStringLiteral("; prova: ") +
                 verify::bestTimeProofText(signer))) +
        line(QStringLiteral("Número de série do certificado"), orNone(signer.serialNumber, none)) +
        line(QStringLiteral("Impressão digital (SHA-1)"), orNone(signer.thumbprint, none)) +
        line(QStringLiteral("Validade do certificado"),
             esc(validityText(signer.validFrom, signer.validTo)));
    return paragraph(facts);
}

QString signerSection(const ValidationResult& document, const SignatureResult& signer)
{
    const Judgement& judgement = signer.judgement;
    return section(QStringLiteral("Signatário %1").arg(signer.index)) +
           paragraph(line(QStringLiteral("Resultado"), verdictWord(judgement.verdict, 12)) +
                     line(QStringLiteral("Indicação"), indicationText(judgement))) +
           reasonsList(judgement) + warningsList(signer.warnings) +
           noteParagraph(verify::legalPresumptionNote(signer)) +
           frameworkNote(signer.trustFramework) + signerFacts(document, signer) +
           pdfPart(signer, document.pdf) + timeStampsPart(signer) + policyPart(signer) +
           chainPart(document, signer) + counterSignaturesPart(signer);
}

QString glossarySection()
{
    const QStringList entries = {
        QStringLiteral("<b>Aprovado</b> (TOTAL-PASSED): a assinatura confere com o documento, "
                       "o certificado era válido e não revogado na data de referência, e nada "
                       "foi encontrado contra ela."),
        QStringLiteral("<b>Reprovado</b> (TOTAL-FAILED): algo prova que a assinatura não vale: "
                       "o documento foi alterado, a assinatura não confere, ou o certificado "
                       "estava revogado ou vencido."),
        QStringLiteral("<b>Indeterminado</b> (INDETERMINATE): faltou o que permitiria decidir: "
                       "a situação de revogação, uma cadeia até uma raiz confiável, ou a "
                       "prova de que a assinatura existia antes de um problema."),
        QStringLiteral("<b>Data declarada pelo signatário</b>: a hora que o computador de quem "
                       "assinou informou; não é prova de nada."),
        QStringLiteral("<b>Carimbo do tempo</b>: prova, emitida por uma Autoridade de "
                       "Carimbo do Tempo (ACT), de que a assinatura já existia naquela data."),
        QStringLiteral("<b>Melhor data comprovada</b>: a data em que a assinatura foi julgada: "
                       "a de um carimbo do tempo válido ou, sem ele, a da verificação."),
        QStringLiteral("<b>Âncora de confiança</b>: a raiz em que a cadeia de certificados "
                       "termina e em que se confia por si; a revogação não se aplica a ela."),
        QStringLiteral("<b>ICP-Brasil</b>: só as assinaturas com certificado ICP-Brasil têm "
                       "presunção legal de veracidade (MP 2.200-2/2001, art. 10, § 1º)."),
    };
    return QStringLiteral("<h2 style=\"page-break-before: always\">Glossário</h2>") +
           items(entries, 0);
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
        html += signerSection(document, signer);
    return html + documentStampsSection(document.pdf) + glossarySection();
}

} // namespace selavia::report
