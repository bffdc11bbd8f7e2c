#pragma once

#include "TrustFramework.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

typedef struct x509_st X509;
typedef struct x509_store_st X509_STORE;

namespace selavia::signature {

// Where the trusted roots of a store came from, as a report tells it.
// A bundled root trusted, by its name and the SHA-256 of its DER.
struct BundledAnchor {
    QString name;
    QByteArray sha256Hex; // lowercase
};

struct TrustSources {
    QStringList bundledRoots; // the bundled ICP-Brasil and gov.br roots trusted (pins matched)
    std::vector<BundledAnchor> bundledAnchors; // the same roots with their fingerprints
    QStringList systemFolders;                 // certificate folders looked up by subject hash
    QString systemFile;                        // a file of certificates read whole; empty when none
    int added = 0;                             // certificates trusted one by one
};

// The roots a chain must reach to be trusted. Shared: copies see the same store.
class TrustStore {
public:
    // The bundled ICP-Brasil and gov.br roots that match their pins, each
    // an anchor of its framework, and the system
    // store: certificates looked up by subject hash in the certificate folder
    // (SSL_CERT_DIR, else OpenSSL's default) when a chain asks for them, plus
    // the whole file SSL_CERT_FILE names when it is set and is not the
    // default bundle. The default bundle is read only when no folder holds
    // hashed names. The environment is read now; nothing else is done until
    // the store is first used, so a run that verifies nothing pays nothing.
    static TrustStore systemDefault();
    // An empty store (nothing trusted); tests add their own roots.
    static TrustStore empty();

    // Trusts a certificate given as DER or PEM, as an anchor of `framework`.
    // Throws SignatureError.
    void addTrusted(const QByteArray& derOrPem, TrustFramework framework = TrustFramework::Other);

    // The framework of `anchor`, a certificate this store trusts: that of
    // the bundled root or the added certificate it is, else Other (the
    // system store's).
    TrustFramework frameworkOf(X509* anchor) const;

    X509_STORE* handle() const;
    TrustSources sources() const;

    // The SHA-256 (lowercase hexadecimal) of the DER of every certificate
    // this store trusts: the bundled roots whose pins match, those added,
    // and every one of the system file and of the hashed names of the
    // system folders. Sorted, without repeats. The system's are read once
    // per store, when first asked for.
    std::vector<QByteArray> anchorDigests() const;

    // A short name of the data a verification trusted: "sha256:" and the
    // first 16 hexadecimal digits of the SHA-256 over the sorted lines
    // "anchor HEX" (`anchorDigests`), "intermediate HEX" (each bundled
    // intermediate admitted) and "policy-list HEX" (`policyListDigests`, the
    // SHA-256 of each list used). The same data gives the same name on any
    // machine, in whatever order it was loaded. Kept per list of lists.
    QString identifier(const std::vector<QByteArray>& policyListDigests) const;

private:
    struct State;
    explicit TrustStore(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

} // namespace selavia::signature
