#include "SignaturePolicyTable.h"

#include <algorithm>
#include <vector>

namespace selavia::verify {
namespace {

const QString kArc = QStringLiteral("2.16.76.1.7.1.");

// Attributes the policies name, with the words the user reads.
struct AttributeRow {
    const char* oid;
    const char* name;
};
constexpr AttributeRow kContentType{"1.2.840.113549.1.9.3", "tipo de conteúdo (content-type)"};
constexpr AttributeRow kMessageDigest{"1.2.840.113549.1.9.4",
                                      "resumo da mensagem (message-digest)"};
constexpr AttributeRow kSigningCertificate{"1.2.840.113549.1.9.16.2.12",
                                           "certificado do signatário (signing-certificate)"};
constexpr AttributeRow kSigningCertificateV2{"1.2.840.113549.1.9.16.2.47",
                                             "certificado do signatário (signing-certificate-v2)"};
constexpr AttributeRow kPolicyIdentifier{"1.2.840.113549.1.9.16.2.15",
                                         "identificador da política (signature-policy-identifier)"};
constexpr AttributeRow kTimeStamp{"1.2.840.113549.1.9.16.2.14",
                                  "carimbo do tempo da assinatura (signature-time-stamp)"};
constexpr AttributeRow kCertificateRefs{
    "1.2.840.113549.1.9.16.2.21",
    "referências completas de certificados (complete-certificate-references)"};
constexpr AttributeRow kRevocationRefs{
    "1.2.840.113549.1.9.16.2.22",
    "referências completas de revogação (complete-revocation-references)"};
constexpr AttributeRow kEscTimeStamp{"1.2.840.113549.1.9.16.2.25",
                                     "carimbo do tempo das referências (CAdES-C-time-stamp)"};
constexpr AttributeRow kCertificateValues{"1.2.840.113549.1.9.16.2.23",
                                          "valores de certificados (certificate-values)"};
constexpr AttributeRow kRevocationValues{"1.2.840.113549.1.9.16.2.24",
                                         "valores de revogação (revocation-values)"};
constexpr AttributeRow kArchiveTimeStamp{
    "1.2.840.113549.1.9.16.2.48", "carimbo do tempo de arquivamento (archive-time-stamp-v2)"};

enum class Family { Cades, Xades, Pades };

// One level of a family: the seventh arc, its name, and for CAdES the
// unsigned attributes it requires (POLICIES.md).
struct LevelRow {
    int arc;
    Family family;
    const char* name;
    std::vector<AttributeRow> requiredUnsigned;
};

const std::vector<LevelRow>& levels()
{
    static const std::vector<LevelRow> table = {
        {1, Family::Cades, "AD-RB", {}},
        {2, Family::Cades, "AD-RT", {kTimeStamp}},
        {3, Family::Cades, "AD-RV", {kTimeStamp, kCertificateRefs, kRevocationRefs, kEscTimeStamp}},
        {4,
         Family::Cades,
         "AD-RC",
         {kTimeStamp, kCertificateRefs, kRevocationRefs, kEscTimeStamp, kCertificateValues,
          kRevocationValues}},
        {5,
         Family::Cades,
         "AD-RA",
         {kCertificateRefs, kRevocationRefs, kCertificateValues, kRevocationValues,
          kArchiveTimeStamp}},
        // XAdES takes the five arcs after CAdES, in the same order; PAdES
        // starts at 11. Only the PAdES level seen in real files is named.
        {6, Family::Xades, "XAdES AD-RB", {}},
        {7, Family::Xades, "XAdES AD-RT", {}},
        {8, Family::Xades, "XAdES AD-RV", {}},
        {9, Family::Xades, "XAdES AD-RC", {}},
        {10, Family::Xades, "XAdES AD-RA", {}},
        {11, Family::Pades, "PAdES AD-RB", {}},
    };
    return table;
}

// Signed attributes every CAdES level requires, besides the signing
// certificate (which depends on the version).
const std::vector<AttributeRow> kRequiredSigned = {kContentType, kMessageDigest, kPolicyIdentifier};

struct ParsedOid {
    const LevelRow* level = nullptr;
    std::vector<int> version; // the arcs after the level
};

// nullopt outside the arc; `level` null for a level not in the table.
std::optional<ParsedOid> parse(const QString& oid)
{
    ParsedOid parsed;
    if (oid == kArc.chopped(1))
        return parsed;
    if (!oid.startsWith(kArc))
        return std::nullopt;
    const QStringList arcs = oid.mid(kArc.size()).split(QLatin1Char('.'));
    std::vector<int> numbers;
    for (const QString& arc : arcs) {
        bool ok = false;
        const int number = arc.toInt(&ok);
        if (!ok || number < 0)
            return parsed; // under the arc, but not a policy we can read
        numbers.push_back(number);
    }
    auto row = std::find_if(levels().begin(), levels().end(),
                            [&](const LevelRow& level) { return level.arc == numbers.front(); });
    if (row != levels().end())
        parsed.level = &*row;
    parsed.version.assign(numbers.begin() + 1, numbers.end());
    return parsed;
}

QString versionText(const std::vector<int>& version)
{
    QStringList parts;
    for (int number : version)
        parts << QString::number(number);
    if (parts.size() == 1)
        parts << QStringLiteral("0");
    return QStringLiteral("v") + parts.join(QLatin1Char('.'));
}

QString nameOf(const ParsedOid& parsed)
{
    if (parsed.level == nullptr)
        return {};
    const QString name = QString::fromLatin1(parsed.level->name);
    return parsed.version.empty() ? name : name + QLatin1Char(' ') + versionText(parsed.version);
}

// Policies before version 2.1 asked for signing-certificate (v1).
bool acceptsVersion1(const std::vector<int>& version)
{
    if (version.empty())
        return false;
    const int major = version[0];
    const int minor = version.size() > 1 ? version[1] : 0;
    return major < 2 || (major == 2 && minor < 1);
}

QString missing(const AttributeRow& row)
{
    return QStringLiteral("atributo exigido pela política ausente: %1")
        .arg(QString::fromUtf8(row.name));
}

QStringList cadesViolations(const ParsedOid& parsed, const PolicyInputs& inputs)
{
    QStringList violations;
    auto has = [](const QStringList& oids, const AttributeRow& row) {
        return oids.contains(QLatin1String(row.oid));
    };
    for (const AttributeRow& row : kRequiredSigned) {
        if (!has(inputs.signedAttributeOids, row))
            violations << missing(row);
    }
    const bool bound =
        has(inputs.signedAttributeOids, kSigningCertificateV2) ||
        (acceptsVersion1(parsed.version) && has(inputs.signedAttributeOids, kSigningCertificate));
    if (!bound)
        violations << missing(kSigningCertificateV2);
    for (const AttributeRow& row : parsed.level->requiredUnsigned) {
        if (!has(inputs.unsignedAttributeOids, row))
            violations << missing(row);
    }
    if (inputs.counterSignatureDeclaresPolicy)
        violations << QStringLiteral("uma contra-assinatura declara política de assinatura");
    return violations;
}

} // namespace

QString policyName(const QString& oid)
{
    const std::optional<ParsedOid> parsed = parse(oid);
    return parsed ? nameOf(*parsed) : QString();
}

PolicyCheck checkPolicy(const PolicyInputs& inputs)
{
    PolicyCheck check;
    check.oid = inputs.policy.oid;
    check.problems = inputs.policy.problems;
    if (inputs.policy.implied) {
        check.problems << QStringLiteral("política de assinatura implícita");
        return check;
    }
    if (check.oid.isEmpty())
        return check;
    const std::optional<ParsedOid> parsed = parse(check.oid);
    QStringList violations;
    if (!parsed)
        check.problems << QStringLiteral("política de assinatura fora da ICP-Brasil");
    else if (parsed->level == nullptr)
        check.problems << QStringLiteral("política de assinatura ICP-Brasil não reconhecida");
    else if (parsed->level->family != Family::Cades)
        check.problems << QStringLiteral("atributos exigidos pela política não conferidos");
    else
        violations = cadesViolations(*parsed, inputs);
    check.conforms = violations.isEmpty();
    check.problems << violations;
    check.name = parsed ? nameOf(*parsed) : QString();
    check.problems << QStringLiteral("hash da política não conferido");
    return check;
}

std::optional<PolicyCheck> checkSignaturePolicy(const signature::Signer& signer)
{
    const signature::CadesInfo& cades = signer.cades();
    if (!cades.policy)
        return std::nullopt;
    PolicyInputs inputs;
    inputs.policy = *cades.policy;
    for (const signature::Attribute& attribute : signer.authenticatedAttributes())
        inputs.signedAttributeOids << attribute.oid;
    inputs.unsignedAttributeOids = cades.unsignedAttributeOids;
    inputs.counterSignatureDeclaresPolicy = std::any_of(
        cades.counterSignatures.begin(), cades.counterSignatures.end(),
        [](const signature::CounterSignature& counter) {
            return counter.signedAttributeOids.contains(QLatin1String(kPolicyIdentifier.oid));
        });
    return checkPolicy(inputs);
}

} // namespace selavia::verify
