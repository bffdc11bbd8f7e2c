#include "verify/Verdict.h"

#include <algorithm>
#include <functional>

namespace selavia::verify {
namespace {

struct Rule {
    Verdict verdict;
    const char* code;
    const char* text;
    std::function<bool(const SignerFacts&)> applies;
};

// The rules, worst first. Every rule that applies gives a reason; the
// worst of them gives the verdict.
const std::vector<Rule>& signerRules()
{
    static const std::vector<Rule> rules = {
        {Verdict::Rejected, "revoked",
         "Um certificado da cadeia foi revogado antes da data de referência.",
         [](const SignerFacts& f) { return f.revokedBeforeReference; }},
        {Verdict::Rejected, "timestamp-invalid",
         "O carimbo do tempo não confere com esta assinatura.",
         [](const SignerFacts& f) { return f.timestampInvalid; }},
        {Verdict::Rejected, "policy-violation",
         "Falta um atributo exigido pela política de assinatura ICP-Brasil declarada.",
         [](const SignerFacts& f) { return f.policyViolation; }},
        {Verdict::Rejected, "signing-certificate-mismatch",
         "O certificado do signatário não é o indicado na assinatura.",
         [](const SignerFacts& f) { return f.signingCertificateMismatch; }},
        {Verdict::Rejected, "key-usage", "O certificado não se destina a assinaturas.",
         [](const SignerFacts& f) { return f.notMeantForSignatures; }},
        {Verdict::Indeterminate, "untrusted-chain",
         "A cadeia de certificados não chega a uma raiz confiável.",
         [](const SignerFacts& f) { return f.untrustedChain; }},
        {Verdict::Indeterminate, "revocation-unknown",
         "Não foi possível consultar a situação de revogação de um certificado da cadeia.",
         [](const SignerFacts& f) { return f.revocationUnknown && !f.revokedBeforeReference; }},
        {Verdict::Indeterminate, "expired-no-timestamp",
         "O certificado estava expirado na data de referência e não há carimbo do tempo válido "
         "que prove a assinatura antes disso.",
         [](const SignerFacts& f) { return f.expiredAtReference && !f.validTimestamp; }},
        {Verdict::Indeterminate, "expired-no-timestamp",
         "O certificado já estava expirado na data do carimbo do tempo.",
         [](const SignerFacts& f) { return f.expiredAtReference && f.validTimestamp; }},
        {Verdict::Indeterminate, "not-yet-valid",
         "O certificado ainda não era válido na data de referência.",
         [](const SignerFacts& f) { return f.notYetValidAtReference; }},
    };
    return rules;
}

struct FileRule {
    FileFailure failure;
    const char* code;
    const char* text;
};

const FileRule kFileRules[] = {
    {FileFailure::InvalidFile, "invalid-file",
     "O arquivo não é uma mensagem assinada válida ou não pôde ser verificado."},
    {FileFailure::ContentTampered, "content-tampered",
     "O conteúdo do documento foi alterado depois de assinado."},
    {FileFailure::SignatureInvalid, "signature-invalid",
     "Uma assinatura não confere com o certificado do signatário."},
};

VerdictReason reason(const char* code, const char* text)
{
    return {QString::fromLatin1(code), QString::fromUtf8(text)};
}

} // namespace

Judgement judgeSigner(const SignerFacts& facts)
{
    Judgement judgement;
    for (const Rule& rule : signerRules()) {
        if (!rule.applies(facts))
            continue;
        judgement.verdict = std::max(judgement.verdict, rule.verdict);
        judgement.reasons.push_back(reason(rule.code, rule.text));
    }
    return judgement;
}

Judgement judgeFile(FileFailure failure, const std::vector<Judgement>& signers)
{
    Judgement judgement;
    for (const FileRule& rule : kFileRules) {
        if (rule.failure == failure) {
            judgement.verdict = Verdict::Rejected;
            judgement.reasons.push_back(reason(rule.code, rule.text));
        }
    }
    if (failure == FileFailure::None && signers.empty()) {
        judgement.verdict = Verdict::Rejected;
        judgement.reasons.push_back(reason("invalid-file", "O arquivo não contém assinaturas."));
    }
    for (const Judgement& signer : signers) {
        judgement.verdict = std::max(judgement.verdict, signer.verdict);
        for (const VerdictReason& why : signer.reasons) {
            const bool known =
                std::any_of(judgement.reasons.begin(), judgement.reasons.end(),
                            [&](const VerdictReason& r) { return r.text == why.text; });
            if (!known)
                judgement.reasons.push_back(why);
        }
    }
    return judgement;
}

QString verdictWord(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Approved:
        return QStringLiteral("Aprovado");
    case Verdict::Indeterminate:
        return QStringLiteral("Indeterminado");
    case Verdict::Rejected:
        break;
    }
    return QStringLiteral("Reprovado");
}

} // namespace selavia::verify
