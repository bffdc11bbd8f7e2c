#include "SignatureMemo.h"

#include "OpenSslHandles.h"
#include "ParsedCertificates.h"

#include <QByteArray>
#include <map>
#include <mutex>
#include <openssl/x509.h>
#include <optional>

namespace selavia::signature::signatures {
namespace {

enum class Kind : char { Certificate = 'C', Crl = 'L' };

class Memo {
public:
    std::optional<bool> find(const QByteArray& key)
    {
        const std::lock_guard lock(mutex_);
        const auto found = answers_.find(key);
        if (found == answers_.end())
            return std::nullopt;
        return found->second;
    }

    void keep(const QByteArray& key, bool answer)
    {
        const std::lock_guard lock(mutex_);
        // Bounded: past the limit, start over rather than track ages.
        if (answers_.size() >= static_cast<std::size_t>(kMaxRemembered))
            answers_.clear();
        answers_.emplace(key, answer);
    }

private:
    std::mutex mutex_;
    std::map<QByteArray, bool> answers_;
};

Memo& memo()
{
    static Memo instance;
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

} // namespace

bool certificateSignedBy(X509* subject, X509* issuer)
{
    const ossl::ErrorQueueGuard guard;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    if (subject == nullptr || key == nullptr)
        return false;
    return remembered(keyOf(Kind::Certificate, ossl::encoded(i2d_X509, subject), issuer),
                      [&] { return X509_verify(subject, key) == 1; });
}

bool crlSignedBy(X509_CRL* crl, X509* issuer)
{
    const ossl::ErrorQueueGuard guard;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    if (crl == nullptr || key == nullptr)
        return false;
    return remembered(keyOf(Kind::Crl, ossl::encoded(i2d_X509_CRL, crl), issuer),
                      [&] { return X509_CRL_verify(crl, key) == 1; });
}

} // namespace selavia::signature::signatures
