#pragma once

#include "Certificate.h"

#include <QByteArray>
#include <memory>

typedef struct x509_store_st X509_STORE;

namespace selavia::signature {

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

private:
    explicit TrustStore(std::shared_ptr<X509_STORE> store) : store_(std::move(store)) {}
    std::shared_ptr<X509_STORE> store_;
};

} // namespace selavia::signature
