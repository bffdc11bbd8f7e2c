#include "verify/Conformity.h"

#include "fileinfo/FileHandler.h"
#include "verify/DocumentName.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <algorithm>

namespace selavia::verify {
namespace {

const PdfSignatureResult* pdfSignatureOf(const ValidationResult& result,
                                         const SignatureResult& signer)
{
    if (!result.pdf)
        return nullptr;
    for (const PdfSignatureResult& signature : result.pdf->signatures) {
        if (signature.signer == signer.index)
            return &signature;
    }
    return nullptr;
}

// ETSI's names of a CMS signature's levels, from what it carries.
QString cadesLevel(const SignatureResult& signer)
{
    if (!signer.archiveTimestamps.empty())
        return QStringLiteral("CAdES-A");
    if (signer.timestamp)
        return QStringLiteral("CAdES-T");
    if (signer.policy && !signer.policy->oid.isEmpty())
        return QStringLiteral("CAdES-EPES");
    return QStringLiteral("CAdES-BES");
}

QString pdfForm(const PdfSignatureResult& signature, int revisions)
{
    QString text = QStringLiteral("PAdES (%1), destacada sobre o intervalo de bytes do PDF")
                       .arg(signature.subFilter);
    if (signature.coversWholeDocument)
        return text + QStringLiteral(": cobre o documento inteiro");
    if (signature.revision > 0)
        return text + QStringLiteral(": cobre a revisão %1 de %2 do documento")
                          .arg(signature.revision)
                          .arg(revisions);
    return text + QStringLiteral(": o intervalo não termina no fim de uma revisão");
}

bool hasReason(const Judgement& judgement, const QString& code)
{
    return std::any_of(judgement.reasons.begin(), judgement.reasons.end(),
                       [&](const VerdictReason& reason) { return reason.code == code; });
}

// An ICP-Brasil certificate, by its class (what the window shows too),
// and not a gov.br signature, which is an advanced one.
bool presumedAuthentic(const SignatureResult& signer)
{
    const bool icp = signer.certificateClass == CertificateClass::Valid ||
                     signer.certificateClass == CertificateClass::Invalid;
    return icp && signer.trustFramework != signature::TrustFramework::GovBr;
}

} // namespace

QString signatureFormText(const ValidationResult& result, const SignatureResult& signer)
{
    if (const PdfSignatureResult* signature = pdfSignatureOf(result, signer))
        return pdfForm(*signature, result.pdf->revisions);
    QString level = cadesLevel(signer);
    if (signer.policy && !signer.policy->name.isEmpty())
        level += QStringLiteral(" (política %1)").arg(signer.policy->name);
    if (!result.detachedContentPath.isEmpty())
        return level + QStringLiteral(", destacada: cobre o documento %1, em arquivo à parte")
                           .arg(displayText(QFileInfo(result.detachedContentPath).fileName()));
    return level + QStringLiteral(", anexada: cobre o documento original, que está dentro do "
                                  "arquivo assinado");
}

QString integrityText(const ValidationResult& result, const SignatureResult& signer)
{
    if (const PdfSignatureResult* signature = pdfSignatureOf(result, signer))
        return signature->intact
                   ? QStringLiteral("confere: a assinatura corresponde aos bytes que cobre")
                   : QStringLiteral("NÃO confere: a assinatura não corresponde aos bytes que "
                                    "cobre");
    return result.verified()
               ? QStringLiteral("confere: a assinatura corresponde ao documento assinado")
               : QStringLiteral("não confirmada: a verificação do arquivo falhou");
}

QString integrityText(const ValidationResult& result)
{
    if (!result.verified())
        return QStringLiteral("não confirmada: ") + result.error->caption;
    if (!result.pdf)
        return QStringLiteral("íntegro: o documento confere com todas as assinaturas");
    const auto& signatures = result.pdf->signatures;
    const auto intact =
        std::count_if(signatures.begin(), signatures.end(),
                      [](const PdfSignatureResult& signature) { return signature.intact; });
    return QStringLiteral("%1 de %2 assinaturas e carimbos do PDF conferem com os bytes que "
                          "cobrem")
        .arg(intact)
        .arg(signatures.size());
}

QString claimedSigningTimeText(const SignatureResult& signer)
{
    if (!signer.claimedSigningTime.isValid())
        return QStringLiteral("não declarada");
    return fileinfo::ZonedDateText(signer.claimedSigningTime) + QStringLiteral(" — ") +
           fileinfo::UtcDateText(signer.claimedSigningTime) + QStringLiteral(" (não comprovada)");
}

QString bestTimeProofText(const SignatureResult& signer)
{
    const auto stamp = [](const std::optional<TimeStampResult>& token) {
        return token && !token->tsaName.isEmpty() ? QStringLiteral(" (ACT: %1)").arg(token->tsaName)
                                                  : QString();
    };
    const QString source = signer.bestSignatureTimeSource;
    if (source == QLatin1String("timestamp"))
        return QStringLiteral("carimbo do tempo da assinatura") + stamp(signer.timestamp);
    if (source == QLatin1String("archive-timestamp"))
        return QStringLiteral("carimbo do tempo de arquivamento");
    if (source == QLatin1String("document-timestamp"))
        return QStringLiteral("carimbo do tempo do documento PDF, posterior à assinatura");
    return QStringLiteral("nenhuma prova de existência: vale a data da verificação");
}

QString algorithmsText(const SignatureResult& signer)
{
    const signature::SignerAlgorithms& used = signer.algorithms;
    QStringList parts;
    parts << QStringLiteral("resumo %1")
                 .arg(used.digest.isEmpty() ? QStringLiteral("ilegível") : used.digest);
    parts << QStringLiteral("assinatura %1")
                 .arg(used.signature.isEmpty() ? QStringLiteral("ilegível") : used.signature);
    if (!used.keyType.isEmpty())
        parts << (used.keyBits > 0
                      ? QStringLiteral("chave %1 de %2 bits").arg(used.keyType).arg(used.keyBits)
                      : QStringLiteral("chave %1").arg(used.keyType));
    QString text = parts.join(QStringLiteral("; "));
    if (hasReason(signer.judgement, QStringLiteral("weak-algorithm")))
        text += QStringLiteral(" — FRACO na data de referência");
    return text;
}

QString certificateSha256(const CertificateFacts& certificate)
{
    if (certificate.der.isEmpty())
        return {};
    return QString::fromLatin1(
        QCryptographicHash::hash(certificate.der, QCryptographicHash::Sha256).toHex());
}

QString anchorSourceText(const ValidationResult& result, const CertificateStatus& status)
{
    if (!status.chainTrusted || status.chain.empty())
        return QStringLiteral("nenhuma: a cadeia não chega a uma raiz confiável");
    const QByteArray top = certificateSha256(status.chain.back().certificate).toLatin1();
    for (const signature::BundledAnchor& anchor : result.trustSources.bundledAnchors) {
        if (anchor.sha256Hex == top)
            return QStringLiteral("raiz do programa \"%1\"").arg(anchor.name);
    }
    return QStringLiteral("repositório de certificados do sistema ou certificado indicado para "
                          "esta verificação");
}

QString legalPresumptionNote(const SignatureResult& signer)
{
    // A signature that does not hold has nothing to be presumed of.
    if (presumedAuthentic(signer) || signer.judgement.verdict == Verdict::Rejected)
        return {};
    return QStringLiteral(
        "Assinatura sem certificado ICP-Brasil: só as assinaturas com certificado ICP-Brasil "
        "têm presunção legal de veracidade (MP 2.200-2/2001, art. 10, § 1º); a validade desta "
        "depende de ser aceita pelas partes ou por quem a receber (art. 10, § 2º).");
}

QString legalPresumptionNote(const ValidationResult& result)
{
    const auto lacking = std::find_if(
        result.signers.begin(), result.signers.end(),
        [](const SignatureResult& signer) { return !legalPresumptionNote(signer).isEmpty(); });
    if (!result.verified() || lacking == result.signers.end())
        return {};
    return QStringLiteral("Atenção: há assinatura sem certificado ICP-Brasil. Só as assinaturas "
                          "com certificado ICP-Brasil têm presunção legal de veracidade "
                          "(MP 2.200-2/2001, art. 10, § 1º).");
}

QString validSignaturesText(const ValidationResult& result)
{
    const auto valid = std::count_if(result.signers.begin(), result.signers.end(),
                                     [](const SignatureResult& signer) {
                                         return signer.judgement.verdict == Verdict::Approved;
                                     });
    const auto all = result.signers.size();
    return QStringLiteral("%1 de %2 %3")
        .arg(valid)
        .arg(all)
        .arg(all == 1 ? QStringLiteral("assinatura válida")
                      : QStringLiteral("assinaturas válidas"));
}

QString networkText(const ValidationResult& result)
{
    const signature::NetworkTally& tally = result.network;
    if (result.offline)
        return QStringLiteral("não: verificação offline (revogação só do arquivo e da cópia "
                              "local)");
    if (tally.requests == 0)
        return QStringLiteral("permitida, mas nenhuma consulta foi necessária");
    if (tally.silent())
        return QStringLiteral("tentada, mas a rede não respondeu (nenhuma de %1 consultas)")
            .arg(tally.requests);
    return QStringLiteral("sim: %1 de %2 consultas respondidas")
        .arg(tally.answered)
        .arg(tally.requests);
}

} // namespace selavia::verify
