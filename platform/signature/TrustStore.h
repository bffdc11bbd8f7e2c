#pragma once

#include "Certificate.h"

#include <QByteArray>
#include <memory>

typedef struct x509_store_st X509_STORE;

namespace selavia::signature {

// The roots a chain must reach to be trusted. Shared: copies see the same store.
class TrustStore {
public:
    // OpenSSL's default verify paths: the system store, honouring
    // SSL_CERT_FILE and SSL_CERT_DIR.
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
