#include "PolicyLists.h"

#include "Cache.h"
#include "HttpClient.h"
#include "platform/signature/BundledCertificates.h"
#include "platform/signature/OpenSslHandles.h"
#include "platform/signature/SignaturePolicies.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QSet>
#include <openssl/cms.h>
#include <openssl/x509_vfy.h>

namespace selavia::revocation {
namespace {

namespace ossl = signature::ossl;

// A list is a few kilobytes; its signature carries a short chain.
constexpr qint64 kMaxListBytes = qint64(1) << 20;

struct SignedList {
    QByteArray list;
    QByteArray signature;
};

// The signer of `cms` chains to `roots`, for any purpose: ITI's signing
// certificate is not an e-mail one, which CMS_verify would ask for.
bool signerChains(CMS_ContentInfo* cms, X509_STORE* roots)
{
    const ossl::UniqueX509Stack carried(CMS_get1_certs(cms));
    // The stack is ours to free, its certificates the message's.
    const ossl::BorrowedX509Stack owned(CMS_get0_signers(cms));
    STACK_OF(X509)* signers = owned.get();
    if (signers == nullptr || sk_X509_num(signers) != 1)
        return false;
    const ossl::UniqueX509StoreCtx context(X509_STORE_CTX_new());
    if (!context ||
        X509_STORE_CTX_init(context.get(), roots, sk_X509_value(signers, 0), carried.get()) != 1)
        return false;
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    return X509_verify_cert(context.get()) == 1;
}

bool verifies(const SignedList& bytes, X509_STORE* roots)
{
    if (roots == nullptr || !signature::policies::parsePolicyList(bytes.list))
        return false;
    const ossl::ErrorQueueGuard guard;
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.signature.data());
    const ossl::UniqueCms cms(d2i_CMS_ContentInfo(nullptr, &cursor, bytes.signature.size()));
    const ossl::UniqueBio content(BIO_new_mem_buf(bytes.list.data(), int(bytes.list.size())));
    if (!cms || !content || CMS_is_detached(cms.get()) != 1)
        return false;
    // The signer's chain is checked below; here only the signature over the list.
    if (CMS_verify(cms.get(), nullptr, roots, content.get(), nullptr,
                   CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
        return false;
    return signerChains(cms.get(), roots);
}

// A copy read from the cache is verified once per process: several
// documents of one run need not check the same signature again.
bool verifiedOnce(const SignedList& bytes, X509_STORE* roots)
{
    static QMutex mutex;
    static QSet<QByteArray> verified;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(bytes.list);
    hash.addData(bytes.signature);
    hash.addData(QByteArray::number(reinterpret_cast<quintptr>(roots)));
    const QByteArray key = hash.result();
    {
        const QMutexLocker lock(&mutex);
        if (verified.contains(key))
            return true;
    }
    if (!verifies(bytes, roots))
        return false;
    const QMutexLocker lock(&mutex);
    verified.insert(key);
    return true;
}

bool current(const QByteArray& list, const QDateTime& now)
{
    const auto parsed = signature::policies::parsePolicyList(list);
    return parsed && parsed->nextUpdate > now;
}

std::optional<SignedList> fetched(const QByteArray& url, const Settings& settings)
{
    FetchControl control(std::chrono::milliseconds(settings.requestTimeoutMs),
                         std::chrono::milliseconds(settings.documentBudgetMs));
    const auto get = [&](const QByteArray& at) {
        HttpRequest request;
        request.url = at;
        request.maxBytes = kMaxListBytes;
        request.maxRedirects = settings.maxRedirects;
        return httpFetch(request, control, settings.watchFetch, FetchKind::PolicyList);
    };
    HttpResponse list = get(url);
    if (!list.ok())
        return std::nullopt;
    HttpResponse signature = get(url.chopped(4) + ".p7s");
    if (!signature.ok())
        return std::nullopt;
    return SignedList{std::move(list.body), std::move(signature.body)};
}

// A list that could not be had once is not asked for again in this process:
// a run over many files must not wait for an unreachable server per file.
bool failedBefore(const QByteArray& url, bool failedNow = false)
{
    static QMutex mutex;
    static QSet<QByteArray> failed;
    const QMutexLocker lock(&mutex);
    if (failedNow)
        failed.insert(url);
    return failed.contains(url);
}

} // namespace

std::optional<QByteArray> currentPolicyList(const QString& name, const Settings& settings,
                                            X509_STORE* roots, const QDateTime& now)
{
    if (!name.endsWith(QLatin1String(".der")))
        return std::nullopt;
    const QByteArray url = settings.policyBaseUrl + '/' + name.toLatin1();
    const Cache cache(settings.cacheFolder, settings.cacheCapBytes);
    const QString stem = Cache::stemFor("lpa", url);
    const QString listEntry = stem + QStringLiteral(".der");
    const QString signatureEntry = stem + QStringLiteral(".p7s");
    std::optional<QByteArray> list = cache.read(listEntry, kMaxListBytes);
    std::optional<QByteArray> signature = cache.read(signatureEntry, kMaxListBytes);
    std::optional<QByteArray> cached;
    if (list && signature && verifiedOnce({*list, *signature}, roots))
        cached = list;
    if (settings.offline || (cached && current(*cached, now)) || failedBefore(url))
        return cached;
    std::optional<SignedList> fresh = fetched(url, settings);
    if (!fresh || !verifies(*fresh, roots)) {
        failedBefore(url, /*failedNow=*/true);
        return cached;
    }
    if (!cache.shared()) {
        cache.write(signatureEntry, fresh->signature);
        cache.write(listEntry, fresh->list);
    }
    return fresh->list;
}

X509_STORE* icpBrasilRoots()
{
    // Lives as long as the process: the roots' DER is compiled in.
    static const ossl::UniqueX509Store store = [] {
        ossl::UniqueX509Store made(X509_STORE_new());
        if (made)
            signature::bundled::addPinnedRoots(made.get(), signature::bundled::roots(),
                                               signature::bundled::rootPins());
        return made;
    }();
    return store.get();
}

} // namespace selavia::revocation
