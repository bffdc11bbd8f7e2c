#pragma once

// ICP-Brasil's signature policies as ITI publishes them: the lists of
// accepted policies (LPA) and each policy (an RFC 3125 SignaturePolicy),
// read into plain facts. What a signature must do under them is judged in
// verify/. The copies the program was built with are compiled in.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace selavia::signature::policies {

struct EmbeddedFile {
    const char* name; // the file name, e.g. "PA_AD_RB_v2_3.der"
    const unsigned char* data;
    std::size_t size;
};
// Written at build time from platform/signature/anchors/politicas.
std::span<const EmbeddedFile> bundledFiles();

// One entry of a list of accepted policies.
struct ListedPolicy {
    QString oid;
    QDateTime notBefore; // signingPeriod, UTC
    QDateTime notAfter;  // invalid: no end
    QDateTime revoked;   // revocationDate; invalid when not revoked
    QString uri;         // where ITI publishes the policy's file
    QString digestAlgorithmOid;
    QByteArray digest; // of the policy's file
};

struct PolicyList {
    std::vector<ListedPolicy> policies;
    QDateTime nextUpdate;
};

// nullopt for anything but a list as ITI writes it.
std::optional<PolicyList> parsePolicyList(QByteArrayView der);

// One AlgAndLength of a policy's algorithm constraints.
struct AlgorithmConstraint {
    QString algorithmOid;    // a signature algorithm, e.g. sha256WithRSAEncryption
    QString digestOid;       // its hash; empty for EdDSA or an algorithm OpenSSL lacks
    QString keyAlgorithmOid; // its key's (rsaEncryption, id-ecPublicKey, Ed25519…); may be empty
    int minKeyBits = 0;      // 0: no minimum
};

enum class CertificateRequirement { None = 0, SignerOnly = 1, FullPath = 2 };

// What a policy asks of a signer, as its rules write it.
struct PolicyRules {
    QString oid; // signPolicyIdentifier
    QDateTime dateOfIssue;
    QDateTime notBefore, notAfter;          // the policy's own signingPeriod
    QStringList mandatedSignedAttributes;   // dotted
    QStringList mandatedUnsignedAttributes; // the signer's rules', then the verifier's
    CertificateRequirement mandatedCertificateRef = CertificateRequirement::SignerOnly;
    CertificateRequirement mandatedCertificateInfo = CertificateRequirement::None;
    std::vector<AlgorithmConstraint> signerAlgorithms; // empty: no constraint
    // Extensions (the PAdES policies' dictionary entries) are present; not read.
    bool hasExtensions = false;
};

// nullopt for anything but a policy shaped as ITI writes them.
std::optional<PolicyRules> parsePolicy(QByteArrayView der);

// A policy as the program knows it: its list's entry and, when its file is
// at hand and its digest is the list's, the file and its rules.
struct KnownPolicy {
    ListedPolicy listed;
    QString listName;    // e.g. "LPA_CAdES.der"
    QByteArray document; // empty when not available or not the one listed
    std::optional<PolicyRules> rules;
    QDateTime nextUpdate; // its list's
};

struct PolicyCatalogue {
    std::vector<KnownPolicy> policies;
    QDateTime nextUpdate; // the earliest of the lists'; invalid without a list
    QStringList problems; // Portuguese: lists that could not be read
    // The SHA-256 (lowercase hexadecimal) of each list it was made of.
    std::vector<QByteArray> listDigests;
    const KnownPolicy* find(const QString& oid) const;
};

// A policy file by its name (the last part of its URI); empty when absent.
using DocumentSource = std::function<QByteArray(const QString& fileName)>;
// The catalogue of `lists` (name, DER), with each policy's file from `documents`.
PolicyCatalogue catalogueOf(const std::vector<std::pair<QString, QByteArray>>& lists,
                            const DocumentSource& documents);
// The compiled-in lists and policies, read on first use, once per process.
const PolicyCatalogue& bundledCatalogue();
// The bundled catalogue's `listDigests`, without reading the lists.
const std::vector<QByteArray>& bundledListDigests();

// The hash of `data` under the algorithm `digestOid`; empty when OpenSSL
// does not know it as a hash.
QByteArray digestOf(const QString& digestOid, QByteArrayView data);

} // namespace selavia::signature::policies
