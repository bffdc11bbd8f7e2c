#pragma once

#include "platform/signature/SignedData.h"
#include "verify/CertificateClass.h"
#include "verify/SignaturePolicyTable.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace selavia::verify {

// A counter-signature of a signer, judged.
struct CounterSignatureEntry {
    signature::CounterSignature signature;
    // It verifies over the signer's signature and its certificate is valid
    // now (as a signer's, revocation included).
    bool valid = false;
    QStringList problems; // the signature's, then its certificate's
};

// The data shown for one signer, taken from that signer only.
struct SignerEntry {
    int index = 0; // from 1
    QString holderName;
    QString identity; // the CPF text
    CertificateClass certificateClass = CertificateClass::NoIcpInvalid;
    QString email;
    QString signingTime;                // display text; empty without the attribute
    QString timestampOrigin;            // "(LOCAL)", …; empty without a description
    QString documentName;               // last acceptable document name, empty if none
    QDateTime validFrom, validTo;       // UTC
    QString validFromText, validToText; // display texts in local time
    int version = 0;
    QString serialNumber;
    QString thumbprint;
    std::vector<signature::Certificate> chain; // signer first
    // The validity of the signer's certificate as a signer's, with the
    // revocation status and problems of each certificate of its chain.
    signature::CertificateStatus status;
    // CAdES. The signature time-stamp that counts: the first valid token,
    // else the first token; none without a token.
    std::optional<signature::TimeStampToken> timestamp;
    // Whether the signer's chain was valid, revocation included, at the
    // valid token's time; nullopt without a valid token. Why not, if not.
    std::optional<bool> validAtTimestamp;
    QStringList validAtTimestampProblems;
    // The declared signature policy, judged; nullopt when none is declared.
    std::optional<PolicyCheck> policy;
    // The signing-certificate attribute names another certificate: the
    // signer is never shown as valid.
    bool signingCertificateMismatch = false;
    std::vector<CounterSignatureEntry> counterSignatures;
    // Problems of the signature beyond its certificate's chain, Portuguese,
    // one line each: the binding ("o certificado do signatário não é o
    // indicado na assinatura"), CAdES values left unchecked.
    QStringList problems;
};

// One node of `tvSigns`, in display order.
struct TreeNode {
    QString key;
    QString parentKey; // empty for "Root"
    QString text;
    QString imageKey;
    bool expanded = false;
    std::optional<signature::Certificate> certificate; // chain nodes only
    // On the node of a signer's own certificate (its chain's first): that
    // signer's index, so that its dialog can tell what the signature says
    // of it. 0 on every other node.
    int signerIndex = 0;
};

// Reads one signer (index from 1) under the resume-on-error rule: a value
// that cannot be read stays empty and the rest goes on.
SignerEntry readSigner(const signature::Signer& signer, int index);

// The timestamp-origin text of a trimmed document-description value.
QString timestampOriginText(const QString& trimmedDescription);

// The nodes of the tree for these signers, in display order.
std::vector<TreeNode> buildTree(const std::vector<SignerEntry>& signers);

} // namespace selavia::verify
