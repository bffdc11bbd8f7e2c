#include "ParsedCertificates.h"

#include "BoundedMemo.h"
#include "DerFrame.h"
#include "OpenSslHandles.h"

#include <QByteArray>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

namespace selavia::signature::certificates {
namespace {

BoundedMemo<std::shared_ptr<X509>>& memo()
{
    static BoundedMemo<std::shared_ptr<X509>> instance(kMaxRemembered);
    return instance;
}

} // namespace

QByteArray digestOf(QByteArrayView der)
{
    // Fetched once: OpenSSL 3.0 would look the algorithm up on every call.
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    QByteArray digest(SHA256_DIGEST_LENGTH, Qt::Uninitialized);
    unsigned int length = 0;
    if (sha256 == nullptr ||
        EVP_Digest(der.data(), static_cast<std::size_t>(der.size()),
                   reinterpret_cast<unsigned char*>(digest.data()), &length, sha256,
                   nullptr) != 1 ||
        length != SHA256_DIGEST_LENGTH)
        return {};
    return digest;
}

std::shared_ptr<X509> parsed(QByteArrayView der)
{
    if (der.isEmpty())
        return nullptr;
    const QByteArray key = digestOf(der);
    if (key.isEmpty())
        return nullptr;
    if (std::optional<std::shared_ptr<X509>> known = memo().find(key))
        return *known;
    const ossl::ErrorQueueGuard guard;
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    ossl::UniqueX509 certificate(d2i_X509(nullptr, &cursor, der.size()));
    if (!certificate || cursor != reinterpret_cast<const unsigned char*>(der.data()) + der.size())
        return nullptr;
    std::shared_ptr<X509> shared = ossl::shared(std::move(certificate));
    memo().keep(key, shared);
    return shared;
}

ossl::UniqueCms messageSharingThem(QByteArrayView der)
{
    std::optional<CertificatesSplit> split = splitCertificates(der);
    if (!split)
        return nullptr;
    ERR_set_mark();
    const auto* cursor = reinterpret_cast<const unsigned char*>(split->message.constData());
    ossl::UniqueCms cms(d2i_CMS_ContentInfo(nullptr, &cursor, split->message.size()));
    bool whole = cms && OBJ_obj2nid(CMS_get0_type(cms.get())) == NID_pkcs7_signed;
    for (QByteArrayView certificate : split->certificates) {
        if (!whole)
            break;
        const std::shared_ptr<X509> shared = parsed(certificate);
        // A repeated certificate is refused by OpenSSL here, not when read.
        whole = shared && CMS_add1_cert(cms.get(), shared.get()) == 1;
    }
    ERR_pop_to_mark();
    return whole ? std::move(cms) : nullptr;
}

} // namespace selavia::signature::certificates
