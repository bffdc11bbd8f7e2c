#include "verify/CadesText.h"

#include "fileinfo/FileHandler.h"
#include "verify/DocumentName.h"

#include <algorithm>

namespace selavia::verify {
namespace {

QString validAtTimestampText(const SignatureResult& signer)
{
    if (!signer.validAtTimestamp || !signer.timestamp)
        return {};
    const QString when = fileinfo::ZonedDateText(signer.timestamp->genTime);
    if (*signer.validAtTimestamp)
        return QStringLiteral("Válido na data do carimbo do tempo (%1)").arg(when);
    return QStringLiteral("Não válido na data do carimbo do tempo (%1): %2")
        .arg(when, signer.validAtTimestampProblems.join(QStringLiteral("; ")));
}

} // namespace

QString policyConformityWord(const PolicyCheck& policy)
{
    if (!policy.findings.empty())
        return QStringLiteral("não conforme");
    return policy.notChecked.isEmpty() ? QStringLiteral("conforme")
                                       : QStringLiteral("conformidade não confirmada");
}

QString policyConformityText(const PolicyCheck& policy)
{
    QStringList parts{policyConformityWord(policy)};
    if (!policy.findings.empty()) {
        QStringList against;
        for (const PolicyFinding& finding : policy.findings)
            against << finding.detail;
        parts.first() += QStringLiteral(": ") + against.join(QStringLiteral("; "));
    }
    if (!policy.checked.isEmpty())
        parts << QStringLiteral("conferido: ") + policy.checked.join(QStringLiteral(", "));
    if (!policy.notChecked.isEmpty())
        parts << QStringLiteral("não conferido: ") + policy.notChecked.join(QStringLiteral(", "));
    for (const QString& warning : policy.warnings)
        parts << QStringLiteral("aviso: ") + warning;
    // What else was met reading the policy (its attribute's own problems).
    for (const QString& problem : policy.problems) {
        const bool told =
            policy.warnings.contains(problem) ||
            problem.endsWith(QStringLiteral(": não conferido")) ||
            std::any_of(policy.findings.begin(), policy.findings.end(),
                        [&](const PolicyFinding& finding) { return finding.detail == problem; });
        if (!told)
            parts << problem;
    }
    return parts.join(QStringLiteral("; "));
}

namespace {

QString policyText(const std::optional<PolicyCheck>& policy)
{
    if (!policy)
        return {};
    QString head = policy->name.isEmpty()
                       ? policy->oid
                       : QStringLiteral("%1 (%2)").arg(policy->name, policy->oid);
    return QStringLiteral("Política de assinatura: ") +
           (head.isEmpty() ? QString() : head + QStringLiteral(" - ")) +
           policyConformityText(*policy);
}

QString counterSignatureText(const CounterSignatureResult& counter)
{
    QString who = displayText(counter.signerName);
    if (who.isEmpty())
        who = QStringLiteral("(signatário desconhecido)");
    if (counter.signingTime.isValid())
        who += QStringLiteral(", ") + fileinfo::ZonedDateText(counter.signingTime);
    const QString verdict =
        counter.valid ? QStringLiteral("válida")
                      : QStringLiteral("inválida: ") + counter.problems.join(QStringLiteral("; "));
    // A counter-signature of a counter-signature says so, once per level.
    QString label = QStringLiteral("Contra-assinatura");
    for (int level = 1; level < counter.level; ++level)
        label += QStringLiteral(" da contra-assinatura");
    return QStringLiteral("%1: %2 - %3").arg(label, who, verdict);
}

QString timeStampText(const TimeStampResult& token, QString (*dateText)(const QDateTime&))
{
    if (!token.valid)
        return QStringLiteral("Carimbo do Tempo (ACT) inválido: ") +
               displayText(token.problems.value(0));
    return QStringLiteral("Carimbo do Tempo (ACT): ") + dateText(token.genTime) +
           QStringLiteral(" - ") + displayText(token.tsaName);
}

} // namespace

QString timeStampNodeText(const TimeStampResult& token)
{
    return timeStampText(token, &fileinfo::GeneralDateText);
}

bool CadesLines::isEmpty() const
{
    return timeStamp.isEmpty() && validAtTimestamp.isEmpty() && policy.isEmpty() &&
           counterSignatures.isEmpty() && problems.isEmpty();
}

CadesLines cadesLines(const SignatureResult& signer)
{
    CadesLines lines;
    if (signer.timestamp)
        lines.timeStamp = timeStampText(*signer.timestamp, &fileinfo::ZonedDateText);
    lines.validAtTimestamp = validAtTimestampText(signer);
    lines.policy = policyText(signer.policy);
    for (const CounterSignatureResult& counter : signer.counterSignatures)
        lines.counterSignatures << counterSignatureText(counter);
    lines.problems = signer.problems;
    return lines;
}

} // namespace selavia::verify
