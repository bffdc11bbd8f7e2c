#pragma once

#include "platform/signature/SignedData.h"
#include "verify/CertificateClass.h"
#include "verify/SignaturePolicyTable.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace selavia::verify {

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
    // The signing-certificate attribute names another certificate.
    bool signingCertificateMismatch = false;
    std::vector<signature::CounterSignature> counterSignatures;
};

// One node of `tvSigns`, in display order.
struct TreeNode {
    QString key;
    QString parentKey; // empty for "Root"
    QString text;
    QString imageKey;
    bool expanded = false;
    std::optional<signature::Certificate> certificate; // chain nodes only
};

// Reads one signer (index from 1) under the resume-on-error rule: a value
// that cannot be read stays empty and the rest goes on.
SignerEntry readSigner(const signature::Signer& signer, int index);

// The timestamp-origin text of a trimmed document-description value.
QString timestampOriginText(const QString& trimmedDescription);

// The nodes of the tree for these signers, in display order.
std::vector<TreeNode> buildTree(const std::vector<SignerEntry>& signers);

} // namespace selavia::verify
