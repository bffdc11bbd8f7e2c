#include "SignatureMemo.h"

#include "BoundedMemo.h"
#include "OpenSslHandles.h"
#include "ParsedCertificates.h"

#include <QByteArray>
#include <openssl/x509.h>
#include <optional>

namespace selavia::signature::signatures {
namespace {

enum class Kind : char { Certificate = 'C', Crl = 'L' };

BoundedMemo<bool>& memo()
{
    static BoundedMemo<bool> instance(kMaxRemembered);
    return instance;
}

// Empty when either encoding cannot be had: such a pair is not remembered.
QByteArray keyOf(Kind kind, const QByteArray& signedDer, X509* issuer)
{
    const QByteArray issuerDer = ossl::encoded(i2d_X509, issuer);
    if (signedDer.isEmpty() || issuerDer.isEmpty())
        return {};
    const QByteArray signedDigest = certificates::digestOf(signedDer);
    const QByteArray issuerDigest = certificates::digestOf(issuerDer);
    if (signedDigest.isEmpty() || issuerDigest.isEmpty())
        return {};
    return static_cast<char>(kind) + signedDigest + issuerDigest;
}

template <typename Verify> bool remembered(const QByteArray& key, const Verify& verify)
{
    if (key.isEmpty())
        return verify();
    if (const std::optional<bool> known = memo().find(key))
        return *known;
    const bool answer = verify();
    memo().keep(key, answer);
    return answer;
}

// Whether `issuer`'s key signed `object`, verified once per encoding.
template <typename Signed, typename Encode, typename Verify>
bool signedBy(Kind kind, Signed* object, X509* issuer, Encode encode, Verify verify)
{
    const ossl::ErrorQueueGuard guard;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    if (object == nullptr || key == nullptr)
        return false;
    return remembered(keyOf(kind, ossl::encoded(encode, object), issuer),
                      [&] { return verify(object, key) == 1; });
}

} // namespace

bool certificateSignedBy(X509* subject, X509* issuer)
{
    return signedBy(Kind::Certificate, subject, issuer, i2d_X509, X509_verify);
}

bool crlSignedBy(X509_CRL* crl, X509* issuer)
{
    return signedBy(Kind::Crl, crl, issuer, i2d_X509_CRL, X509_CRL_verify);
}

} // namespace selavia::signature::signatures
