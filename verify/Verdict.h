#pragma once

// The verdict on a signature and on a file: Aprovado, Reprovado or
// Indeterminado, with the indication and sub-indication of the standard
// validation model and the reasons. Every reason is one row of one table
// (Verdict.cpp); everything the rules read is a fact worked out elsewhere.

#include <QString>
#include <vector>

namespace selavia::verify {

enum class Verdict { Approved, Indeterminate, Rejected };
enum class Indication { TotalPassed, Indeterminate, TotalFailed };

struct VerdictReason {
    QString code; // short ASCII id, e.g. "revoked"
    QString text; // Portuguese
};

// What judging a signature against its declared policy found; the detail
// names the rule (Portuguese), empty when the code says it all.
enum class PolicyCode { Unknown, Period, Revoked, Hash, Violation };
struct PolicyFinding {
    PolicyCode code = PolicyCode::Violation;
    QString detail;

    friend bool operator==(const PolicyFinding&, const PolicyFinding&) = default;
};

// What the rules need to know of one signature, judged at its best
// signature time (a valid time-stamp's time, else the time of the check).
struct SignerFacts {
    bool signatureInvalid = false;       // its value does not verify (a counter-signature's)
    bool unsupportedAlgorithm = false;   // its value cannot be computed here
    bool formatViolation = false;        // its attributes break their encoding rules
    bool revokedBeforeReference = false; // a certificate of its chain
    // The revocation's reason says the key may have been in other hands
    // (key or CA compromise, unspecified, none given).
    bool revokedForCompromise = false;
    bool timestampInvalid = false;   // a token that does not verify over this signature
    bool timestampUntrusted = false; // a token that verifies, by a TSA that cannot be judged
    std::vector<PolicyFinding> policyFindings{}; // its declared policy not met
    bool signingCertificateMismatch = false;
    bool notMeantForSignatures = false;
    bool untrustedChain = false;
    bool revocationUnknown = false; // of a certificate of its chain
    bool expiredAtReference = false;
    bool notYetValidAtReference = false;
    bool weakAlgorithm = false;  // an algorithm past its end at the reference time
    bool validTimestamp = false; // the reference time is a time-stamp's
    // A signed PDF's: the signed range is not what a signature covers; a
    // later revision changed what the signature does not allow; an allowed
    // later change paints over the signed content.
    bool byteRangeInvalid = false;
    bool changedAfterSigning = false;
    bool visibleChangeAfterSigning = false;

    friend bool operator==(const SignerFacts&, const SignerFacts&) = default;
};

// Why a file that failed verification failed.
enum class FileFailure {
    None,
    InvalidFile,
    ContentTampered,
    SignatureInvalid,
    UnsupportedAlgorithm,
    // A PDF: no signature at all, or only forms of signature not read here.
    NoPdfSignature,
    UnsupportedPdfSignature,
};

struct Judgement {
    Verdict verdict = Verdict::Approved;
    Indication indication = Indication::TotalPassed;
    QString subIndication;              // the worst reason's, ETSI's name; empty when passed
    std::vector<VerdictReason> reasons; // in the table's order
};

Judgement judgeSigner(const SignerFacts& facts);
// The file: its failure when it failed verification; else the worst of its
// signatures' judgements, with every reason once (a file with no signature
// proves nothing: Reprovado).
Judgement judgeFile(FileFailure failure, const std::vector<Judgement>& signatures);

// "Aprovado", "Reprovado", "Indeterminado": the report's word and the JSON value.
QString verdictWord(Verdict verdict);
// "TOTAL-PASSED", "INDETERMINATE", "TOTAL-FAILED".
QString indicationName(Indication indication);
// The verdict line the window, the text report and the PDF report show:
// "Resultado: Reprovado — reason; reason".
QString verdictLine(const Judgement& judgement);

} // namespace selavia::verify
