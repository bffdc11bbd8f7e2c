#include "SignaturePolicyCheck.h"

#include <algorithm>
#include <vector>

namespace selavia::verify {
namespace {

namespace pol = signature::policies;

const QString kArc = QStringLiteral("2.16.76.1.7.1.");
const QString kPolicyIdentifierOid = QStringLiteral("1.2.840.113549.1.9.16.2.15");

// The words the user reads for the OIDs the policies name; others are shown dotted.
struct OidName {
    const char* oid;
    const char* name;
};
constexpr OidName kOidNames[] = {
    {"1.2.840.113549.1.9.3", "tipo de conteúdo (content-type)"},
    {"1.2.840.113549.1.9.4", "resumo da mensagem (message-digest)"},
    {"1.2.840.113549.1.9.16.2.12", "certificado do signatário (signing-certificate)"},
    {"1.2.840.113549.1.9.16.2.47", "certificado do signatário (signing-certificate-v2)"},
    {"1.2.840.113549.1.9.16.2.15", "identificador da política (signature-policy-identifier)"},
    {"1.2.840.113549.1.9.16.2.14", "carimbo do tempo da assinatura (signature-time-stamp)"},
    {"1.2.840.113549.1.9.16.2.21",
     "referências completas de certificados (complete-certificate-references)"},
    {"1.2.840.113549.1.9.16.2.22",
     "referências completas de revogação (complete-revocation-references)"},
    {"1.2.840.113549.1.9.16.2.25", "carimbo do tempo das referências (CAdES-C-time-stamp)"},
    {"1.2.840.113549.1.9.16.2.23", "valores de certificados (certificate-values)"},
    {"1.2.840.113549.1.9.16.2.24", "valores de revogação (revocation-values)"},
    {"1.2.840.113549.1.9.16.2.48", "carimbo do tempo de arquivamento (archive-time-stamp-v2)"},
    {"1.2.840.113549.1.1.1", "RSA"},
    {"1.2.840.10045.2.1", "ECDSA"},
    {"1.3.101.112", "Ed25519"},
    {"1.3.101.113", "Ed448"},
    {"1.3.14.3.2.26", "SHA-1"},
    {"2.16.840.1.101.3.4.2.1", "SHA-256"},
    {"2.16.840.1.101.3.4.2.2", "SHA-384"},
    {"2.16.840.1.101.3.4.2.3", "SHA-512"},
};

QString nameOfOid(const QString& oid)
{
    const auto* found =
        std::find_if(std::begin(kOidNames), std::end(kOidNames),
                     [&](const OidName& row) { return oid == QLatin1String(row.oid); });
    return found != std::end(kOidNames) ? QString::fromUtf8(found->name) : oid;
}

// The families of the arc's seventh number, in order: CAdES, XAdES, PAdES.
struct Level {
    int arc;
    const char* name;
};
constexpr Level kLevels[] = {
    {1, "AD-RB"},        {2, "AD-RT"},        {3, "AD-RV"},        {4, "AD-RC"},
    {5, "AD-RA"},        {6, "XAdES AD-RB"},  {7, "XAdES AD-RT"},  {8, "XAdES AD-RV"},
    {9, "XAdES AD-RC"},  {10, "XAdES AD-RA"}, {11, "PAdES AD-RB"}, {12, "PAdES AD-RT"},
    {13, "PAdES AD-RC"}, {14, "PAdES AD-RA"},
};

QString dateText(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("dd/MM/yyyy"));
}

// What could not be checked is told as such, and keeps the policy from
// reading as conforming.
void leaveUnchecked(PolicyCheck& check, const QString& what)
{
    check.notChecked << what;
    check.problems << what + QStringLiteral(": não conferido");
}

// Collects what the check finds: the verdict's finding and the line the
// presenters show.
struct Findings {
    PolicyCheck& check;
    void add(PolicyCode code, const QString& detail)
    {
        check.findings.push_back({code, detail});
        check.problems << detail;
    }
};

void checkDates(const pol::ListedPolicy& listed, const QDateTime& at, Findings& findings)
{
    const bool before = at < listed.notBefore;
    const bool after = listed.notAfter.isValid() && at > listed.notAfter;
    if (before || after) {
        findings.add(PolicyCode::Period,
                     QStringLiteral("período de uso da política de %1 a %2")
                         .arg(dateText(listed.notBefore), listed.notAfter.isValid()
                                                              ? dateText(listed.notAfter)
                                                              : QStringLiteral("—")));
    }
    if (listed.revoked.isValid() && at >= listed.revoked)
        findings.add(PolicyCode::Revoked,
                     QStringLiteral("política revogada em %1").arg(dateText(listed.revoked)));
}

void checkHash(const PolicyInputs& inputs, const pol::KnownPolicy& known, PolicyCheck& check,
               Findings& findings)
{
    const QByteArray digest = pol::digestOf(inputs.policy.hashAlgorithmOid, known.document);
    if (digest.isEmpty()) {
        leaveUnchecked(check, QStringLiteral("hash da política (algoritmo %1 desconhecido)")
                                  .arg(inputs.policy.hashAlgorithmOid));
        return;
    }
    check.checked << QStringLiteral("hash da política");
    if (digest != inputs.policy.hash)
        findings.add(PolicyCode::Hash, QStringLiteral("o hash da política declarado não confere"));
}

void checkAttributes(const QStringList& mandated, const QStringList& present, const QString& kind,
                     const PolicyInputs& inputs, PolicyCheck& check, Findings& findings)
{
    for (const QString& oid : mandated) {
        QString status = QStringLiteral("presente");
        if (!present.contains(oid)) {
            status = QStringLiteral("ausente");
            findings.add(
                PolicyCode::Violation,
                QStringLiteral("atributo %1 obrigatório ausente: %2").arg(kind, nameOfOid(oid)));
        } else if (inputs.emptyAttributeOids.contains(oid)) {
            status = QStringLiteral("sem valor");
            findings.add(
                PolicyCode::Violation,
                QStringLiteral("atributo %1 obrigatório sem valor: %2").arg(kind, nameOfOid(oid)));
        }
        check.mandatedAttributes << QStringLiteral("%1: %2 — %3").arg(kind, nameOfOid(oid), status);
    }
}

// The signer's algorithm and key must be among the policy's, at its
// length or more.
void checkAlgorithm(const pol::PolicyRules& rules, const PolicyInputs& inputs, Findings& findings)
{
    if (rules.signerAlgorithms.empty())
        return;
    int minimum = -1;
    for (const pol::AlgorithmConstraint& allowed : rules.signerAlgorithms) {
        const bool sameKey = allowed.keyAlgorithmOid == inputs.keyAlgorithmOid;
        const bool sameDigest =
            allowed.digestOid.isEmpty() || allowed.digestOid == inputs.digestAlgorithmOid;
        if (sameKey && sameDigest && !inputs.keyAlgorithmOid.isEmpty())
            minimum = minimum < 0 ? allowed.minKeyBits : std::min(minimum, allowed.minKeyBits);
    }
    if (minimum < 0)
        findings.add(
            PolicyCode::Violation,
            QStringLiteral("algoritmo de assinatura não admitido pela política: %1 com %2")
                .arg(nameOfOid(inputs.keyAlgorithmOid), nameOfOid(inputs.digestAlgorithmOid)));
    else if (inputs.keyBits < minimum)
        findings.add(PolicyCode::Violation,
                     QStringLiteral("chave de %1 bits, menor que o mínimo de %2 bits da política")
                         .arg(inputs.keyBits)
                         .arg(minimum));
}

void checkRules(const pol::PolicyRules& rules, const PolicyInputs& inputs, PolicyCheck& check,
                Findings& findings)
{
    checkAttributes(rules.mandatedSignedAttributes, inputs.signedAttributeOids,
                    QStringLiteral("assinado"), inputs, check, findings);
    checkAttributes(rules.mandatedUnsignedAttributes, inputs.unsignedAttributeOids,
                    QStringLiteral("não assinado"), inputs, check, findings);
    checkAlgorithm(rules, inputs, findings);
    check.checked << QStringLiteral("atributos obrigatórios")
                  << QStringLiteral("algoritmo e tamanho da chave");
    if (rules.hasExtensions)
        leaveUnchecked(check, QStringLiteral("regras de extensão da política"));
}

// The list's entry, the policy's file and its rules.
void checkListed(const PolicyInputs& inputs, const pol::KnownPolicy& known, PolicyCheck& check,
                 Findings& findings)
{
    checkDates(known.listed, inputs.bestSignatureTime, findings);
    check.checked << QStringLiteral("período de uso e revogação da política");
    if (!known.rules) {
        findings.add(PolicyCode::Unknown,
                     QStringLiteral("arquivo da política indisponível ou diferente do publicado"));
        return;
    }
    checkHash(inputs, known, check, findings);
    checkRules(*known.rules, inputs, check, findings);
}

void warn(PolicyCheck& check, const QString& warning)
{
    check.warnings << warning;
    check.problems << warning;
}

} // namespace

QString policyName(const QString& oid)
{
    if (!oid.startsWith(kArc))
        return {};
    const QStringList arcs = oid.mid(kArc.size()).split(QLatin1Char('.'));
    std::vector<int> numbers;
    for (const QString& arc : arcs) {
        bool ok = false;
        numbers.push_back(arc.toInt(&ok));
        if (!ok || numbers.back() < 0)
            return {};
    }
    const auto* level = std::find_if(std::begin(kLevels), std::end(kLevels),
                                     [&](const Level& row) { return row.arc == numbers.front(); });
    if (level == std::end(kLevels))
        return {};
    const QString name = QString::fromLatin1(level->name);
    if (numbers.size() == 1)
        return name;
    QStringList version;
    for (std::size_t i = 1; i < numbers.size(); ++i)
        version << QString::number(numbers[i]);
    if (version.size() == 1)
        version << QStringLiteral("0");
    return name + QStringLiteral(" v") + version.join(QLatin1Char('.'));
}

PolicyCheck checkPolicy(const PolicyInputs& inputs, const pol::PolicyCatalogue& catalogue)
{
    PolicyCheck check;
    check.oid = inputs.policy.oid;
    check.problems = inputs.policy.problems;
    if (inputs.policy.implied) {
        check.problems << QStringLiteral("política de assinatura implícita");
        check.notChecked << QStringLiteral("regras da política implícita");
        check.conforms = false;
        return check;
    }
    if (check.oid.isEmpty())
        return check;
    check.name = policyName(check.oid);
    Findings findings{check};
    if (inputs.counterSignatureDeclaresPolicy)
        findings.add(PolicyCode::Violation,
                     QStringLiteral("uma contra-assinatura declara política de assinatura"));
    if (const pol::KnownPolicy* known = catalogue.find(check.oid)) {
        check.listName = known->listName;
        check.listNextUpdate = known->nextUpdate;
        checkListed(inputs, *known, check, findings);
        if (known->nextUpdate.isValid() && inputs.checkedAt > known->nextUpdate)
            warn(check, QStringLiteral("lista de políticas expirada em %1")
                            .arg(dateText(known->nextUpdate)));
    } else if (check.oid.startsWith(kArc)) {
        findings.add(PolicyCode::Unknown,
                     QStringLiteral("política ausente da lista de políticas da ICP-Brasil"));
    } else {
        warn(check,
             QStringLiteral("política de assinatura fora da ICP-Brasil: regras não conferidas"));
        check.notChecked << QStringLiteral("regras da política (fora da ICP-Brasil)");
    }
    check.conforms = check.findings.empty() && check.notChecked.isEmpty();
    return check;
}

std::optional<PolicyCheck> checkSignaturePolicy(const signature::Signer& signer,
                                                const QDateTime& bestSignatureTime,
                                                const QDateTime& checkedAt,
                                                const pol::PolicyCatalogue& catalogue)
{
    const signature::CadesInfo& cades = signer.cades();
    if (!cades.policy)
        return std::nullopt;
    PolicyInputs inputs;
    inputs.policy = *cades.policy;
    for (const signature::Attribute& attribute : signer.authenticatedAttributes())
        inputs.signedAttributeOids << attribute.oid;
    inputs.unsignedAttributeOids = cades.unsignedAttributeOids;
    inputs.emptyAttributeOids = cades.emptySignedAttributeOids + cades.emptyUnsignedAttributeOids;
    inputs.digestAlgorithmOid = cades.digestAlgorithmOid;
    inputs.keyAlgorithmOid = cades.keyAlgorithmOid;
    inputs.keyBits = cades.keyBits;
    inputs.counterSignatureDeclaresPolicy =
        std::any_of(cades.counterSignatures.begin(), cades.counterSignatures.end(),
                    [](const signature::CounterSignature& counter) {
                        return counter.signedAttributeOids.contains(kPolicyIdentifierOid);
                    });
    inputs.bestSignatureTime = bestSignatureTime;
    inputs.checkedAt = checkedAt;
    return checkPolicy(inputs, catalogue);
}

} // namespace selavia::verify
