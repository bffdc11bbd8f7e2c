#pragma once

#include "Certificate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

typedef struct x509_store_st X509_STORE;

namespace selavia::signature {

// Where the trusted roots of a store came from, as a report tells it.
struct TrustSources {
    QStringList bundledRoots;  // the bundled ICP-Brasil roots trusted (their pins matched)
    QStringList systemFolders; // certificate folders looked up by subject hash
    QString systemFile;        // a file of certificates read whole; empty when none
    int added = 0;             // certificates trusted one by one
};

// The roots a chain must reach to be trusted. Shared: copies see the same store.
class TrustStore {
public:
    // The bundled ICP-Brasil roots that match their pins, and the system
    // store: certificates looked up by subject hash in the certificate folder
    // (SSL_CERT_DIR, else OpenSSL's default) when a chain asks for them, plus
    // the whole file SSL_CERT_FILE names when it is set and is not the
    // default bundle. The default bundle is read only when no folder holds
    // hashed names.
    static TrustStore systemDefault();
    // An empty store (nothing trusted); tests add their own roots.
    static TrustStore empty();

    // Trusts a certificate given as DER or PEM. Throws SignatureError.
    void addTrusted(const QByteArray& derOrPem);

    X509_STORE* handle() const { return store_.get(); }
    TrustSources sources() const { return *sources_; }

private:
    TrustStore(std::shared_ptr<X509_STORE> store, TrustSources sources)
        : store_(std::move(store)), sources_(std::make_shared<TrustSources>(std::move(sources)))
    {
    }
    std::shared_ptr<X509_STORE> store_;
    std::shared_ptr<TrustSources> sources_;
};

} // namespace selavia::signature
