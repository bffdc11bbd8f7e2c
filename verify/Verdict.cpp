#include "verify/Verdict.h"

#include <QStringList>
#include <algorithm>
#include <optional>

namespace selavia::verify {
namespace {

// Every reason there is: its code, its words, and where it places a
// signature in the model.
struct Reason {
    const char* code;
    const char* text;
    Verdict verdict;
    const char* subIndication;
};

const Reason kRevoked = {"revoked",
                         "Um certificado da cadeia foi revogado antes da data de referência.",
                         Verdict::Rejected, "REVOKED"};
const Reason kRevokedNoPoe = {
    "revoked-no-poe",
    "Um certificado da cadeia foi revogado (por motivo que não indica comprometimento da chave) e "
    "não há carimbo do tempo que prove a assinatura antes da revogação.",
    Verdict::Indeterminate, "REVOKED_NO_POE"};
const Reason kFormat = {"format",
                        "A assinatura não segue as regras do formato (atributos assinados).",
                        Verdict::Rejected, "FORMAT_FAILURE"};
const Reason kWeakAlgorithm = {
    "weak-algorithm",
    "A assinatura usa um algoritmo criptográfico já considerado fraco na data de referência, e "
    "não há prova de que existia antes disso.",
    Verdict::Indeterminate, "CRYPTO_CONSTRAINTS_FAILURE_NO_POE"};
const Reason kTimestampInvalid = {"timestamp-invalid",
                                  "O carimbo do tempo não confere com esta assinatura.",
                                  Verdict::Rejected, "SIG_CRYPTO_FAILURE"};
const Reason kTimestampUntrusted = {
    "timestamp-untrusted",
    "O carimbo do tempo confere, mas a sua autoridade (ACT) não pôde ser validada: ele não prova a "
    "data da assinatura.",
    Verdict::Indeterminate, "NO_POE"};
const Reason kMismatch = {"signing-certificate-mismatch",
                          "O certificado do signatário não é o indicado na assinatura.",
                          Verdict::Rejected, "FORMAT_FAILURE"};
const Reason kKeyUsage = {"key-usage", "O certificado não se destina a assinaturas.",
                          Verdict::Rejected, "SIG_CONSTRAINTS_FAILURE"};
const Reason kUntrusted = {"untrusted-chain",
                           "A cadeia de certificados não chega a uma raiz confiável.",
                           Verdict::Indeterminate, "NO_CERTIFICATE_CHAIN_FOUND"};
const Reason kRevocationUnknown = {
    "revocation-unknown",
    "Não foi possível consultar a situação de revogação de um certificado da cadeia.",
    Verdict::Indeterminate, "TRY_LATER"};
const Reason kExpired = {"expired-no-timestamp",
                         "O certificado estava expirado na data de referência e não há carimbo do "
                         "tempo válido que prove a assinatura antes disso.",
                         Verdict::Indeterminate, "OUT_OF_BOUNDS_NO_POE"};
const Reason kExpiredAtStamp = {"expired-no-timestamp",
                                "O certificado já estava expirado na data do carimbo do tempo.",
                                Verdict::Indeterminate, "OUT_OF_BOUNDS_NO_POE"};
const Reason kNotYetValid = {"not-yet-valid",
                             "O certificado ainda não era válido na data de referência.",
                             Verdict::Indeterminate, "NOT_YET_VALID"};
const Reason kInvalidFile = {
    "invalid-file", "O arquivo não é uma mensagem assinada válida ou não pôde ser verificado.",
    Verdict::Rejected, "FORMAT_FAILURE"};
const Reason kNoSignature = {"invalid-file", "O arquivo não contém assinaturas.", Verdict::Rejected,
                             "FORMAT_FAILURE"};
const Reason kContentTampered = {"content-tampered",
                                 "O conteúdo do documento foi alterado depois de assinado.",
                                 Verdict::Rejected, "HASH_FAILURE"};
const Reason kSignatureInvalid = {"signature-invalid",
                                  "Uma assinatura não confere com o certificado do signatário.",
                                  Verdict::Rejected, "SIG_CRYPTO_FAILURE"};
const Reason kUnsupportedAlgorithm = {
    "unsupported-algorithm",
    "A assinatura usa um algoritmo não suportado: não foi possível verificá-la.",
    Verdict::Indeterminate, "CRYPTO_CONSTRAINTS_FAILURE"};

const Reason kByteRange = {
    "byte-range",
    "O intervalo assinado (/ByteRange) não é o que uma assinatura de PDF cobre: parte do "
    "documento não está protegida pela assinatura.",
    Verdict::Rejected, "FORMAT_FAILURE"};
const Reason kChangedAfterSigning = {
    "modified-after-signing",
    "Alteração não permitida: o documento foi alterado depois desta assinatura.", Verdict::Rejected,
    "HASH_FAILURE"};
const Reason kVisibleChange = {
    "visible-change-after-signing",
    "Uma alteração posterior permitida cobre texto ou imagens da página assinada: o que se vê "
    "pode não ser o que foi assinado.",
    Verdict::Indeterminate, "SIG_CONSTRAINTS_FAILURE"};
const Reason kNoPdfSignature = {"no-signature",
                                "Não verificado: o documento PDF não contém assinaturas.",
                                Verdict::Indeterminate, "SIGNED_DATA_NOT_FOUND"};
const Reason kUnsupportedPdfSignature = {"unsupported-format",
                                         "Não verificado: formato de assinatura não suportado.",
                                         Verdict::Indeterminate, "FORMAT_FAILURE"};

struct Rule {
    const Reason& reason;
    bool (*applies)(const SignerFacts&);
};

// The rules in the order their reasons are told; the worst reason gives the
// verdict and the sub-indication.
const Rule kSignerRules[] = {
    {kSignatureInvalid, [](const SignerFacts& f) { return f.signatureInvalid; }},
    {kFormat, [](const SignerFacts& f) { return f.formatViolation; }},
    {kByteRange, [](const SignerFacts& f) { return f.byteRangeInvalid; }},
    {kChangedAfterSigning, [](const SignerFacts& f) { return f.changedAfterSigning; }},
    // Revoked before a proof of existence, or for a compromise: anyone may
    // have signed. For another reason, without proof, it may predate it.
    {kRevoked,
     [](const SignerFacts& f) {
         return f.revokedBeforeReference && (f.validTimestamp || f.revokedForCompromise);
     }},
    {kRevokedNoPoe,
     [](const SignerFacts& f) {
         return f.revokedBeforeReference && !f.validTimestamp && !f.revokedForCompromise;
     }},
    {kTimestampInvalid, [](const SignerFacts& f) { return f.timestampInvalid; }},
    {kMismatch, [](const SignerFacts& f) { return f.signingCertificateMismatch; }},
    {kKeyUsage, [](const SignerFacts& f) { return f.notMeantForSignatures; }},
    {kUntrusted, [](const SignerFacts& f) { return f.untrustedChain; }},
    {kTimestampUntrusted, [](const SignerFacts& f) { return f.timestampUntrusted; }},
    {kRevocationUnknown,
     [](const SignerFacts& f) { return f.revocationUnknown && !f.revokedBeforeReference; }},
    {kExpired, [](const SignerFacts& f) { return f.expiredAtReference && !f.validTimestamp; }},
    {kExpiredAtStamp,
     [](const SignerFacts& f) { return f.expiredAtReference && f.validTimestamp; }},
    {kNotYetValid, [](const SignerFacts& f) { return f.notYetValidAtReference; }},
    {kWeakAlgorithm, [](const SignerFacts& f) { return f.weakAlgorithm; }},
    {kUnsupportedAlgorithm, [](const SignerFacts& f) { return f.unsupportedAlgorithm; }},
    {kVisibleChange, [](const SignerFacts& f) { return f.visibleChangeAfterSigning; }},
};

const std::pair<FileFailure, const Reason&> kFileFailures[] = {
    {FileFailure::InvalidFile, kInvalidFile},
    {FileFailure::ContentTampered, kContentTampered},
    {FileFailure::SignatureInvalid, kSignatureInvalid},
    {FileFailure::UnsupportedAlgorithm, kUnsupportedAlgorithm},
    {FileFailure::NoPdfSignature, kNoPdfSignature},
    {FileFailure::UnsupportedPdfSignature, kUnsupportedPdfSignature},
};

// Each verdict with its word and the model's indication, in Verdict's order.
struct Names {
    Verdict verdict;
    const char* word;
    Indication indication;
    const char* indicationName;
};
constexpr Names kNames[] = {
    {Verdict::Approved, "Aprovado", Indication::TotalPassed, "TOTAL-PASSED"},
    {Verdict::Indeterminate, "Indeterminado", Indication::Indeterminate, "INDETERMINATE"},
    {Verdict::Rejected, "Reprovado", Indication::TotalFailed, "TOTAL-FAILED"},
};

static_assert(kNames[0].verdict == Verdict::Approved &&
              kNames[1].verdict == Verdict::Indeterminate &&
              kNames[2].verdict == Verdict::Rejected);

const Names& namesOf(Verdict verdict)
{
    return kNames[static_cast<std::size_t>(verdict)];
}

Indication indicationOf(Verdict verdict)
{
    return namesOf(verdict).indication;
}

// Adds `reason` unless a reason with its words is told already; the worst
// reason sets the verdict and the sub-indication.
void add(Judgement& judgement, const VerdictReason& reason, Verdict verdict,
         const QString& subIndication)
{
    const bool known = std::any_of(judgement.reasons.begin(), judgement.reasons.end(),
                                   [&](const VerdictReason& r) { return r.text == reason.text; });
    if (known)
        return;
    judgement.reasons.push_back(reason);
    if (verdict > judgement.verdict ||
        (verdict == judgement.verdict && judgement.subIndication.isEmpty())) {
        judgement.verdict = verdict;
        judgement.subIndication = subIndication;
    }
    judgement.indication = indicationOf(judgement.verdict);
}

void add(Judgement& judgement, const Reason& reason)
{
    add(judgement, {QString::fromLatin1(reason.code), QString::fromUtf8(reason.text)},
        reason.verdict, QString::fromLatin1(reason.subIndication));
}

// The declared policy's findings, one row per code; the dates weigh as
// much as the time they were judged at: a time-stamp's proves, the time of
// the check only suggests.
struct PolicyRow {
    PolicyCode code;
    std::optional<bool> atProof; // for the dates: judged at a time-stamp's time
    Reason reason;
};
const PolicyRow kPolicyRows[] = {
    {PolicyCode::Unknown,
     {},
     {"policy-unknown",
      "A política de assinatura ICP-Brasil declarada não está disponível na lista de políticas.",
      Verdict::Indeterminate, "SIGNATURE_POLICY_NOT_AVAILABLE"}},
    {PolicyCode::Period,
     true,
     {"policy-period",
      "A assinatura foi feita fora do período de uso da política de assinatura declarada.",
      Verdict::Rejected, "SIG_CONSTRAINTS_FAILURE"}},
    {PolicyCode::Period,
     false,
     {"policy-period",
      "Sem carimbo do tempo, a assinatura não se prova feita no período de uso da política de "
      "assinatura declarada.",
      Verdict::Indeterminate, "NO_POE"}},
    {PolicyCode::Revoked,
     true,
     {"policy-revoked", "A assinatura foi feita depois da revogação da política de assinatura.",
      Verdict::Rejected, "SIG_CONSTRAINTS_FAILURE"}},
    {PolicyCode::Revoked,
     false,
     {"policy-revoked",
      "Sem carimbo do tempo, a assinatura não se prova feita antes da revogação da política de "
      "assinatura.",
      Verdict::Indeterminate, "NO_POE"}},
    {PolicyCode::Hash,
     {},
     {"policy-hash", "O hash da política de assinatura declarado não confere com o da política.",
      Verdict::Rejected, "SIG_CONSTRAINTS_FAILURE"}},
    {PolicyCode::Violation,
     {},
     {"policy-violation",
      "A assinatura não cumpre uma regra obrigatória da política de assinatura ICP-Brasil "
      "declarada.",
      Verdict::Rejected, "SIG_CONSTRAINTS_FAILURE"}},
};

// Each finding as its row's reason, its detail told after the row's words.
void addPolicyFindings(Judgement& judgement, const SignerFacts& facts)
{
    for (const PolicyFinding& finding : facts.policyFindings) {
        for (const PolicyRow& row : kPolicyRows) {
            if (row.code != finding.code || (row.atProof && *row.atProof != facts.validTimestamp))
                continue;
            QString text = QString::fromUtf8(row.reason.text);
            if (!finding.detail.isEmpty()) {
                text.chop(1); // the full stop, which goes after the detail
                text += QStringLiteral(": ") + finding.detail + QLatin1Char('.');
            }
            add(judgement, {QString::fromLatin1(row.reason.code), text}, row.reason.verdict,
                QString::fromLatin1(row.reason.subIndication));
        }
    }
}

} // namespace

Judgement judgeSigner(const SignerFacts& facts)
{
    Judgement judgement;
    for (const Rule& rule : kSignerRules) {
        if (rule.applies(facts))
            add(judgement, rule.reason);
    }
    addPolicyFindings(judgement, facts);
    return judgement;
}

Judgement judgeFile(FileFailure failure, const std::vector<Judgement>& signatures)
{
    Judgement judgement;
    for (const auto& [which, reason] : kFileFailures) {
        if (which == failure)
            add(judgement, reason);
    }
    if (failure == FileFailure::None && signatures.empty())
        add(judgement, kNoSignature);
    for (const Judgement& signature : signatures) {
        for (const VerdictReason& why : signature.reasons)
            add(judgement, why, signature.verdict, signature.subIndication);
    }
    return judgement;
}

QString verdictWord(Verdict verdict)
{
    return QString::fromUtf8(namesOf(verdict).word);
}

QString indicationName(Indication indication)
{
    const auto* found = std::find_if(std::begin(kNames), std::end(kNames), [&](const Names& names) {
        return names.indication == indication;
    });
    return QString::fromLatin1(found != std::end(kNames) ? found->indicationName : "TOTAL-FAILED");
}

QString verdictLine(const Judgement& judgement)
{
    QStringList reasons;
    for (const VerdictReason& reason : judgement.reasons)
        reasons << reason.text;
    QString line = QStringLiteral("Resultado: ") + verdictWord(judgement.verdict);
    if (!reasons.isEmpty())
        line += QStringLiteral(" — ") + reasons.join(QLatin1Char(' '));
    return line;
}

} // namespace selavia::verify
