#include "verify/ResultSummary.h"

#include <QStringList>

namespace selavia::verify {
namespace {

// How many signers of `total` are in one case, in words: every one, one
// or several. The three texts are the case for all, for one, and for %1.
struct Counted {
    QString all;
    QString one;
    QString several;
};

QString counted(int count, int total, const Counted& texts)
{
    if (count == total)
        return texts.all;
    return count == 1 ? texts.one : texts.several.arg(count);
}

} // namespace

QString verdictQualifier(const ValidationResult& result)
{
    if (!result.verified() || result.signers.empty() || result.verdict.verdict != Verdict::Approved)
        return {};
    int govBr = 0;
    int foreign = 0;
    int invalidIcp = 0;
    for (const SignatureResult& signer : result.signers) {
        switch (signer.certificateClass) {
        case CertificateClass::Valid:
            break;
        case CertificateClass::Invalid:
            ++invalidIcp;
            break;
        case CertificateClass::NoIcpValid:
        case CertificateClass::NoIcpInvalid:
            ++(signer.trustFramework == signature::TrustFramework::GovBr ? govBr : foreign);
            break;
        }
    }
    if (govBr + foreign + invalidIcp == 0)
        return {};
    const int total = static_cast<int>(result.signers.size());
    QStringList parts;
    if (total == 1) {
        parts << QStringLiteral("assinatura válida");
        if (govBr > 0)
            parts << QStringLiteral("assinatura eletrônica avançada gov.br, não ICP-Brasil");
        else if (foreign > 0)
            parts << QStringLiteral("o signatário não é ICP-Brasil");
        else
            parts << QStringLiteral("o certificado ICP-Brasil do signatário não é válido hoje");
        return QLatin1Char('(') + parts.join(QStringLiteral("; ")) + QLatin1Char(')');
    }
    parts << QStringLiteral("assinaturas válidas");
    if (govBr > 0)
        parts << counted(govBr, total,
                         {QStringLiteral("todas são assinaturas eletrônicas avançadas gov.br, não "
                                         "ICP-Brasil"),
                          QStringLiteral("1 signatário é gov.br, não ICP-Brasil"),
                          QStringLiteral("%1 signatários são gov.br, não ICP-Brasil")});
    if (foreign > 0)
        parts << counted(foreign, total,
                         {QStringLiteral("nenhum signatário é ICP-Brasil"),
                          QStringLiteral("1 signatário não é ICP-Brasil"),
                          QStringLiteral("%1 signatários não são ICP-Brasil")});
    if (invalidIcp > 0)
        parts << counted(invalidIcp, total,
                         {QStringLiteral("nenhum certificado ICP-Brasil dos signatários é válido "
                                         "hoje"),
                          QStringLiteral("1 certificado ICP-Brasil de signatário não é válido "
                                         "hoje"),
                          QStringLiteral("%1 certificados ICP-Brasil de signatários não são "
                                         "válidos hoje")});
    return QLatin1Char('(') + parts.join(QStringLiteral("; ")) + QLatin1Char(')');
}

QString verdictHeadline(const ValidationResult& result)
{
    QString line = verdictLine(result.verdict);
    const QString qualifier = verdictQualifier(result);
    if (!qualifier.isEmpty()) {
        Judgement word;
        word.verdict = result.verdict.verdict;
        line.insert(verdictLine(word).size(), QLatin1Char(' ') + qualifier);
    }
    return line;
}

} // namespace selavia::verify
