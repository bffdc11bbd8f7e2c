#pragma once

// The verdict a verification report gives: Aprovado, Reprovado or
// Indeterminado, per signer and for the file, with the reasons. The rules
// are one table (Verdict.cpp); everything they read is a fact worked out
// elsewhere.

#include <QString>
#include <vector>

namespace selavia::verify {

enum class Verdict { Approved, Indeterminate, Rejected };

struct VerdictReason {
    QString code; // short ASCII id, e.g. "revoked"
    QString text; // Portuguese
};

// What the rules need to know of one signer, judged at its reference time
// (the valid time-stamp's time, else now).
struct SignerFacts {
    bool revokedBeforeReference = false; // a certificate of its chain
    bool timestampInvalid = false;       // a token that does not verify over this signature
    bool policyViolation = false;        // a required attribute of its declared policy missing
    bool signingCertificateMismatch = false;
    bool notMeantForSignatures = false;
    bool untrustedChain = false;
    bool revocationUnknown = false; // of a certificate of its chain
    bool expiredAtReference = false;
    bool notYetValidAtReference = false;
    bool validTimestamp = false; // the reference time is a time-stamp's

    friend bool operator==(const SignerFacts&, const SignerFacts&) = default;
};

// Why a file that failed verification failed.
enum class FileFailure { None, InvalidFile, ContentTampered, SignatureInvalid };

struct Judgement {
    Verdict verdict = Verdict::Approved;
    std::vector<VerdictReason> reasons; // in the table's order
};

Judgement judgeSigner(const SignerFacts& facts);
// The file: Reprovado when it failed verification or any signer is,
// else Indeterminado when any signer is, else Aprovado (a file with no
// signer proves nothing: Reprovado).
Judgement judgeFile(FileFailure failure, const std::vector<Judgement>& signers);

// "Aprovado", "Reprovado", "Indeterminado": the report's word and the JSON value.
QString verdictWord(Verdict verdict);

} // namespace selavia::verify
