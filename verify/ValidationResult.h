#pragma once

// What verifying one signed file found and how it was judged, as one plain
// value: the window, the command line and the report render it and decide
// nothing of their own. Nothing here is an OpenSSL type or a live object of
// the signature services, and nothing throws.

#include "fileinfo/FileHandler.h"
#include "platform/signature/Revocation.h"
#include "platform/signature/SignerEncoding.h"
#include "platform/signature/TrustStore.h"
#include "platform/signature/ValidationServices.h"
#include "verify/CertificateClass.h"
#include "verify/Verdict.h"
#include "verify/VerificationError.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace selavia::verify {

// What a certificate says of itself, read once; a value that cannot be read
// stays empty.
struct CertificateFacts {
    QString simpleName;  // as GetInfo 0 gives it, shown as is by nobody
    QString displayName; // simpleName without control or bidirectional characters: what is shown
    QString subject;     // one line, most specific first
    QString issuer;
    QString email;
    int version = 0;
    QString serialNumber;
    QString thumbprint;
    QDateTime validFrom, validTo; // UTC; invalid when unreadable
    QByteArray der;
};

// A declared signature policy, judged against ITI's list and the policy.
struct PolicyCheck {
    QString oid;  // dotted; empty for an implied policy
    QString name; // e.g. "AD-RB v2.3"; "" outside 2.16.76.1.7.1 or when not known
    // Nothing found against it and nothing left unchecked.
    bool conforms = true;
    // Portuguese, one line each: what was found against it, then what was
    // not checked and the warnings.
    QStringList problems;
    std::vector<PolicyFinding> findings{}; // what the verdict weighs
    QStringList warnings{};                // changes no verdict: an expired list, a foreign policy
    QStringList checked{};                 // what was checked, Portuguese
    QStringList notChecked{};              // what could not be checked, and why, Portuguese
    // Each attribute the policy mandates and what the signature has of it:
    // "assinado: tipo de conteúdo (content-type) — presente", Portuguese.
    QStringList mandatedAttributes{};
    // The list of accepted policies it was judged against ("LPA_CAdES.der")
    // and when that list said the next would come; empty outside the lists.
    QString listName{};
    QDateTime listNextUpdate{};
};

// One certificate of a path, judged at the status's time.
struct ChainLinkStatus {
    CertificateFacts certificate;
    // What the sources said; "unknown" when that proves nothing at the
    // status's time (evidence issued before it), with its source and dates.
    signature::RevocationStatus revocation;
    QStringList problems; // Portuguese, one line each, without the certificate's name
    // No source could say whether it was revoked (never so for the top of a
    // path, which has no issuer to ask).
    bool revocationUnknown = false;
};

// A certificate judged at one time: its path, dates and revocation.
struct CertificateStatus {
    bool result = false;  // valid at `at`
    QStringList problems; // "name: problem" lines; empty when valid
    QDateTime at;         // UTC, the time it was judged at
    bool trusted = false; // the path reached a trusted root, whatever else is wrong
    // The path reached a trusted root, every certificate of it signed by the
    // next and allowed to issue: dates and revocation aside.
    bool chainTrusted = false;
    bool meantForSignatures = true; // key usages allow signing documents
    // The framework of the anchor the path reached; None when it reached none.
    signature::TrustFramework framework = signature::TrustFramework::None;
    // Judged at `at`, of any certificate of the path:
    bool revoked = false; // revoked at or before `at`
    // A revoked certificate's reason says its key may have been in other hands.
    bool revokedForCompromise = false;
    bool expired = false;                   // past its validity at `at`
    bool notYetValid = false;               // before its validity at `at`
    bool revocationUnknown = false;         // no answer for a certificate that has an issuer
    signature::RevocationStatus revocation; // of the certificate itself
    std::vector<ChainLinkStatus> chain;     // the certificate first, towards the root
};

// A signature time-stamp (RFC 3161 token over a signature value), judged.
struct TimeStampResult {
    // The token verifies over the signature, by a TSA fit for it whose path
    // reaches a trusted root and is valid at `genTime`: `problems` is empty.
    bool valid = false;
    QDateTime genTime;                      // UTC; invalid when unreadable
    QString tsaName;                        // cleaned for display
    QStringList problems;                   // the token's own, then its TSA's path's
    QStringList tokenProblems;              // the token's own: imprint, TSA signature, ESS, usage
    std::vector<CertificateFacts> tsaChain; // the TSA first
    // The same path judged at `genTime`, with each certificate's revocation.
    std::vector<ChainLinkStatus> tsaChainStatus;
    Judgement judgement; // the token as a signature of its own
    // Its imprint could not be confirmed (an archive stamp hashed another
    // way than ours): it proves nothing and accuses nothing.
    bool unconfirmed = false;
};

// A counter-signature of a signature, judged as a signature of its own.
struct CounterSignatureResult {
    QString signerName; // cleaned for display; empty when the message lacks its certificate
    QDateTime signingTime;
    // 1: it counter-signs the signer; 2: it counter-signs the one listed
    // before it at level 1; and so on.
    int level = 1;
    // It verifies over the signer's signature and its certificate is valid now.
    bool valid = false;
    QStringList problems; // the signature's, then its certificate's
    QStringList warnings;
    Judgement judgement;
    // Its certificate's revocation and path; empty without its certificate.
    signature::RevocationStatus revocation;
    std::vector<ChainLinkStatus> chainStatus;
};

// One signature of the file, a signer of its message (from 1).
struct SignatureResult {
    int index = 0;
    QString holderName;
    QString identity; // the CPF text
    CertificateClass certificateClass = CertificateClass::NoIcpInvalid;
    // The framework of the anchor its certificate's path reaches at the time
    // of the check: what its class is called (see signerCaption).
    signature::TrustFramework trustFramework = signature::TrustFramework::None;
    QString email;
    QString signingTime;                // display text; empty without the attribute
    QDateTime claimedSigningTime;       // UTC; what the signer claims, proof of nothing
    QString timestampOrigin;            // "(LOCAL)", …; empty without a description
    QString documentName;               // last acceptable document name, empty if none
    QDateTime validFrom, validTo;       // UTC
    QString validFromText, validToText; // display texts in local time
    int version = 0;
    QString serialNumber;
    QString thumbprint;
    // The signer's certificate as a signer's, judged at the time of the check.
    CertificateStatus status;
    // The signature time-stamp that counts: the first valid token, else the
    // first token; none without a token.
    std::optional<TimeStampResult> timestamp;
    // The content time-stamp that counts, chosen alike: a proof that the
    // content existed, not the signature.
    std::optional<TimeStampResult> contentTimestamp;
    // Every archive time-stamp, in message order.
    std::vector<TimeStampResult> archiveTimestamps;
    // Whether the signer's certificate was valid, revocation included, at the
    // valid token's time; nullopt without a valid token. Why not, if not.
    std::optional<bool> validAtTimestamp;
    QStringList validAtTimestampProblems;
    std::optional<PolicyCheck> policy; // nullopt when none is declared
    // The signing-certificate attribute names another certificate.
    bool signingCertificateMismatch = false;
    std::vector<CounterSignatureResult> counterSignatures;
    // Problems of the signature beyond its certificate's chain, Portuguese,
    // one line each.
    QStringList problems;
    // What changes nothing of the verdict but is worth telling.
    QStringList warnings;
    // The time it was judged at: its proof of existence (a valid time-stamp),
    // else the time of the check.
    QDateTime bestSignatureTime;
    // What proved it: "timestamp", "archive-timestamp", "document-timestamp"
    // or "check" (no proof: the time of the check).
    QString bestSignatureTimeSource;
    signature::SignerAlgorithms algorithms;
    Judgement judgement;
};

// One node of `tvSigns`, in display order.
struct TreeNode {
    QString key;
    QString parentKey; // empty for "Root"
    QString text;
    QString imageKey;
    bool expanded = false;
    // The signer's signature for its nodes, from 1; 0 for the root.
    int signer = 0;
    // On a chain node: its place in that signer's chain, from 1 (the
    // signer's own certificate); 0 on every other node.
    int chainPosition = 0;
    // Nodes past the text: what the window tells in a tooltip and the
    // accessible description (a check that did not happen, for one).
    QString description;
};

// A change a later revision of a signed PDF made, as one signature sees it.
struct PdfChangeResult {
    int revision = 0;
    QString kind;         // "page-content", "annotation", "overlay", …
    bool allowed = false; // what this signature allows after it
    QString detail;       // Portuguese
};

// One signature field's value, or document time-stamp, of a signed PDF.
struct PdfSignatureResult {
    int index = 0; // from 1, in signing order
    QString field;
    bool documentTimeStamp = false;
    QString subFilter;
    std::vector<qint64> byteRange;
    int revision = 0; // the revision whose end its range ends at; 0 when none
    // The bytes of the file up to the end of the revision it signs: the
    // version it signed is the file's first `signedLength` bytes (0 when
    // its range ends at no revision).
    qint64 signedLength = 0;
    bool coversWholeDocument = false;
    bool intact = false; // its CMS (or token) verifies over the byte range
    bool modifiedAfterSigning = false;
    std::optional<bool> modificationAllowed; // nullopt when nothing changed
    std::vector<PdfChangeResult> changes;
    int signer = 0; // its entry in `signers`, from 1; 0 for a document time-stamp
    std::optional<TimeStampResult> timestamp; // a document time-stamp, judged
    QString reason, location;
    int page = 0; // where its widget is, from 1; 0 when nowhere
};

struct PdfResult {
    int revisions = 0;
    std::optional<int> certificationLevel; // /DocMDP /P of the certifying signature
    bool dss = false;
    std::vector<PdfSignatureResult> signatures;
};

struct ValidationResult {
    QString filePath; // as given
    // The document a detached signature was verified over, as given; empty
    // when the signed file holds its document.
    QString detachedContentPath;
    std::optional<VerificationError> error; // set when the file failed verification
    std::vector<SignatureResult> signers;   // empty when it failed
    std::vector<TreeNode> tree;
    QString originalName;      // `OriginalName`
    bool hasExtension = false; // `HasExtension`
    bool signaturesOk = false; // `SignaturesOk`: every signer "cert_valid"
    qint64 contentSize = -1;   // of the verified content; -1 when it failed
    QByteArray contentSha256;  // summed from the verifying read
    // The verified content itself, when asked to keep it and it fit the cap.
    std::optional<QByteArray> content;
    // The signed file's size and SHA-256, when asked for (-1 and empty
    // otherwise, or when it could not be read whole).
    qint64 signedFileSize = -1;
    QByteArray signedFileSha256;
    QDateTime checkedAt;  // UTC, when the certificates were judged
    bool atGiven = false; // `checkedAt` was asked for, not the clock's
    // A short name of the trust anchors, bundled intermediates and lists of
    // policies the file was judged against: "sha256:" and 16 hex digits.
    QString trust;
    bool offline = false;                 // judged without any request to the network
    signature::NetworkTally network;      // the requests made and how many were answered
    signature::TrustSources trustSources; // where the trusted roots came from
    Judgement verdict;                    // the file's: the worst of all its signatures'
    // An output asked for that could not be written (the file verified).
    std::optional<fileinfo::FileError> outputFailure;
    // A signed PDF's signatures, revisions and changes; nullopt for a CMS message.
    std::optional<PdfResult> pdf;
    // Why a PDF was not verified at all (no signature, or none readable).
    FileFailure pdfFailure = FileFailure::None;

    bool verified() const { return !error.has_value(); }
    // Every top-level signer holds a valid ICP-Brasil certificate and no
    // signature of any kind (counter-signatures and time-stamps included)
    // is Reprovado: what a script may take as a plain yes.
    bool acceptedAsIcpBrasil() const;
};

} // namespace selavia::verify
