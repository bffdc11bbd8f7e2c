#include "TrustStore.h"

#include "OpenSslHandles.h"
#include "SignatureError.h"

#include <openssl/err.h>
#include <openssl/pem.h>

namespace selavia::signature {
namespace {

std::shared_ptr<X509_STORE> newStore()
{
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr)
        throw SignatureError::fromOpenSsl(code::kInternal);
    return std::shared_ptr<X509_STORE>(store, ossl::Deleter<X509_STORE_free>());
}

} // namespace

TrustStore TrustStore::systemDefault()
{
    ERR_clear_error();
    auto store = newStore();
    // A system without a store is not an error: nothing is trusted then.
    X509_STORE_set_default_paths(store.get());
    ERR_clear_error();
    return TrustStore(std::move(store));
}

TrustStore TrustStore::empty()
{
    return TrustStore(newStore());
}

void TrustStore::addTrusted(const QByteArray& derOrPem)
{
    ERR_clear_error();
    ossl::UniqueX509 certificate;
    if (derOrPem.trimmed().startsWith("-----BEGIN")) {
        ossl::UniqueBio bio(
            BIO_new_mem_buf(derOrPem.constData(), static_cast<int>(derOrPem.size())));
        certificate.reset(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    } else {
        const auto* cursor = reinterpret_cast<const unsigned char*>(derOrPem.constData());
        certificate.reset(d2i_X509(nullptr, &cursor, derOrPem.size()));
    }
    if (!certificate || X509_STORE_add_cert(store_.get(), certificate.get()) != 1)
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
}

} // namespace selavia::signature
