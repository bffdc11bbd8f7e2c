#include "RevocationService.h"

#include "Cache.h"
#include "CacheKey.h"
#include "CrlIndex.h"
#include "HttpClient.h"
#include "platform/signature/Ocsp.h"
#include "platform/signature/OpenSslHandles.h"
#include "platform/signature/TextDecoding.h"

#include <QCryptographicHash>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <openssl/err.h>

namespace selavia::revocation {
namespace {

namespace sig = signature;
namespace ossl = signature::ossl;

// Certificates taken from one caIssuers answer at most.
constexpr int kMaxIssuerCandidates = 16;
// Addresses of one kind tried per certificate: a certificate naming
// thousands would otherwise spend the document's time on them.
constexpr qsizetype kMaxAddresses = 8;

QByteArray uriOf(const GENERAL_NAME* name)
{
    if (name == nullptr || name->type != GEN_URI)
        return {};
    const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
    return QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                      ASN1_STRING_length(uri));
}

// Other schemes are skipped: only http is fetched.
bool isHttp(const QByteArray& url)
{
    return url.startsWith("http://");
}

QList<QByteArray> distributionPoints(X509* certificate)
{
    const ossl::ErrorQueueGuard guard;
    QList<QByteArray> urls;
    ossl::UniqueDistributionPoints points(static_cast<CRL_DIST_POINTS*>(
        X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr)));
    for (int i = 0; points && i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
        if (point->distpoint == nullptr || point->distpoint->type != 0 ||
            point->reasons != nullptr || point->CRLissuer != nullptr)
            continue;
        const GENERAL_NAMES* names = point->distpoint->name.fullname;
        for (int n = 0; n < sk_GENERAL_NAME_num(names); ++n) {
            const QByteArray url = uriOf(sk_GENERAL_NAME_value(names, n));
            if (isHttp(url) && urls.size() < kMaxAddresses)
                urls << url;
        }
    }
    return urls;
}

QList<QByteArray> accessLocations(X509* certificate, int method)
{
    const ossl::ErrorQueueGuard guard;
    QList<QByteArray> urls;
    ossl::UniqueAuthorityInfoAccess access(static_cast<AUTHORITY_INFO_ACCESS*>(
        X509_get_ext_d2i(certificate, NID_info_access, nullptr, nullptr)));
    for (int i = 0; access && i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
        const ACCESS_DESCRIPTION* description = sk_ACCESS_DESCRIPTION_value(access.get(), i);
        const QByteArray url = uriOf(description->location);
        if (OBJ_obj2nid(description->method) == method && isHttp(url) &&
            urls.size() < kMaxAddresses)
            urls << url;
    }
    return urls;
}

QByteArray fingerprint(X509* certificate)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha256(), digest.data(), &length);
    return QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<int>(length));
}

ossl::UniqueX509Crl parseCrl(const QByteArray& der)
{
    const ossl::ErrorQueueGuard guard;
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.constData());
    ossl::UniqueX509Crl crl(d2i_X509_CRL(nullptr, &cursor, der.size()));
    // Trailing bytes make it something else than one list.
    if (crl && cursor != reinterpret_cast<const unsigned char*>(der.constData()) + der.size())
        crl.reset();
    return crl;
}

using IndexPtr = std::shared_ptr<const CrlIndex>;

// Lists this process verified, by their digest and their issuer: a list
// read again (from a shared cache, or after an index that did not verify)
// is neither parsed nor verified twice. A few lists at most are kept.
class VerifiedLists {
public:
    IndexPtr find(const QByteArray& key)
    {
        std::lock_guard lock(mutex_);
        for (const auto& [known, index] : lists_) {
            if (known == key)
                return index;
        }
        return nullptr;
    }

    void add(const QByteArray& key, IndexPtr index)
    {
        std::lock_guard lock(mutex_);
        if (lists_.size() >= kKept)
            lists_.pop_front();
        lists_.emplace_back(key, std::move(index));
    }

private:
    static constexpr std::size_t kKept = 8;
    std::mutex mutex_;
    std::deque<std::pair<QByteArray, IndexPtr>> lists_;
};

VerifiedLists& verifiedLists()
{
    static VerifiedLists lists;
    return lists;
}

// Lists of a shared cache this process verified, by the version of their
// entry: every document of a run asks for the same few, which are then
// neither read nor summed again.
VerifiedLists& verifiedEntries()
{
    static VerifiedLists lists;
    return lists;
}

// Work that many threads may ask for at once, done once per key: the first
// to ask does it, the others wait for its answer, later ones get it kept.
template <typename Value> class OnceByKey {
public:
    // `produce()`'s answer for `key`; `onFailure` when it threw.
    template <typename Produce>
    Value get(const QByteArray& key, Produce produce, const Value& onFailure)
    {
        std::promise<Value> promise;
        std::shared_future<Value> future;
        bool mine = false;
        {
            std::lock_guard lock(mutex_);
            auto found = futures_.find(key);
            if (found == futures_.end()) {
                future = promise.get_future().share();
                futures_.emplace(key, future);
                mine = true;
            } else {
                future = found->second;
            }
        }
        if (mine) {
            try {
                promise.set_value(produce());
            } catch (...) {
                promise.set_value(onFailure);
            }
        }
        return future.get();
    }

private:
    std::mutex mutex_;
    std::map<QByteArray, std::shared_future<Value>> futures_;
};

// Lists being fetched or fetched, by address and issuer: one document's,
// or a whole refresh's, so that each is fetched once however many
// documents need it.
using Downloads = OnceByKey<IndexPtr>;

} // namespace

struct SharedFetches {
    Downloads lists;
    // Issuers' certificates by address: small, kept for the refresh.
    OnceByKey<HttpResponse> answers;
};

namespace {

// The index of `der` when it is a list `issuer` signed; null otherwise.
IndexPtr verifiedIndex(const QByteArray& der, X509* issuer, const QByteArray& url)
{
    const QByteArray key = sha256(der) + fingerprint(issuer) + url;
    if (IndexPtr known = verifiedLists().find(key))
        return known;
    ossl::UniqueX509Crl crl = parseCrl(der);
    // A list that does not verify is ignored, and never kept.
    if (!crl || !sig::crlIssuedBy(crl.get(), issuer, QDateTime::currentDateTimeUtc()))
        return nullptr;
    auto index = std::make_shared<const CrlIndex>(CrlIndex::build(crl.get(), der, issuer, url));
    verifiedLists().add(key, index);
    return index;
}

// What one document's checks share: the cache, the requests' bounds and
// what was already read or fetched.
class Session {
public:
    Session(const Settings& settings, const QDateTime& at)
        : settings_(settings), at_(at), cache_(settings.cacheFolder, settings.cacheCapBytes),
          control_(std::chrono::milliseconds(settings.requestTimeoutMs),
                   std::chrono::milliseconds(settings.documentBudgetMs))
    {
        // A shared cache's indexes were sealed by someone else, if at all.
        if (cache_.usable() && !cache_.shared())
            key_ = cacheKey(settings.cacheKeyFile);
    }

    const Settings& settings() const { return settings_; }
    // The instant judged at, when given; invalid: now.
    const QDateTime& at() const { return at_; }
    const Cache& cache() const { return cache_; }
    FetchControl& control() { return control_; }

    HttpResponse fetch(FetchKind kind, const QByteArray& url, qint64 maxBytes,
                       const QByteArray& body = {}, const QByteArray& contentType = {})
    {
        return httpFetch({url, maxBytes, settings_.maxRedirects, body, contentType}, control_,
                         settings_.watchFetch, kind);
    }

    // A small answer (an issuer's certificate): when refreshing a cache,
    // fetched once per process, whatever documents ask for it at once.
    HttpResponse fetchSmall(FetchKind kind, const QByteArray& url)
    {
        if (!settings_.refresh)
            return fetch(kind, url, settings_.maxSmallBytes);
        HttpResponse failed;
        failed.failure = QStringLiteral("erro interno");
        return settings_.refresh->answers.get(
            url, [&] { return fetch(kind, url, settings_.maxSmallBytes); }, failed);
    }

    // The index of the cached list at `url` for `issuer`, read once per
    // document: our sealed index, else the list verified again.
    IndexPtr cachedIndex(const QByteArray& url, X509* issuer)
    {
        const QByteArray key = url + '\n' + fingerprint(issuer);
        {
            std::lock_guard lock(mutex_);
            if (auto found = indexes_.find(key); found != indexes_.end())
                return found->second;
        }
        IndexPtr index = readCached(url, issuer);
        std::lock_guard lock(mutex_);
        return indexes_.emplace(key, std::move(index)).first->second;
    }

    // The list at `url` fetched once per document for `issuer`, verified,
    // then cached with its index; null when it could not be had.
    IndexPtr downloaded(const QByteArray& url, X509* issuer)
    {
        Downloads& downloads = settings_.refresh ? settings_.refresh->lists : downloads_;
        return downloads.get(
            url + '\n' + fingerprint(issuer), [&] { return download(url, issuer); }, nullptr);
    }

private:
    static QString indexName(const QByteArray& url)
    {
        return Cache::stemFor("crl", url) + QStringLiteral(".idx");
    }

    IndexPtr readCached(const QByteArray& url, X509* issuer)
    {
        const QString name = indexName(url);
        if (key_) {
            std::optional<QByteArray> bytes = cache_.read(name, settings_.maxIndexBytes);
            std::optional<CrlIndex> index =
                bytes ? CrlIndex::parse(std::move(*bytes), *key_, name.toLatin1()) : std::nullopt;
            if (index)
                return std::make_shared<const CrlIndex>(std::move(*index));
        }
        // No index of ours: the list counts only once verified again.
        const QString derName = Cache::stemFor("crl", url) + QStringLiteral(".der");
        const std::optional<QByteArray> version =
            cache_.shared() ? cache_.identity(derName) : std::nullopt;
        const QByteArray entryKey =
            version ? *version + '\n' + fingerprint(issuer) + url : QByteArray();
        if (version) {
            if (IndexPtr known = verifiedEntries().find(entryKey))
                return known;
        }
        std::optional<QByteArray> der = cache_.read(derName, settings_.maxCrlBytes);
        IndexPtr index = der ? verifiedIndex(*der, issuer, url) : nullptr;
        // Read after its version was taken: a list replaced meanwhile is
        // kept under the older version, which nobody asks for again.
        if (index && version)
            verifiedEntries().add(entryKey, index);
        if (index)
            keepIndex(name, *index);
        return index;
    }

    void keepIndex(const QString& name, const CrlIndex& index) const
    {
        if (key_)
            cache_.write(name, index.serialize(*key_, name.toLatin1()));
    }

    IndexPtr download(const QByteArray& url, X509* issuer)
    {
        HttpResponse response = fetch(FetchKind::RevocationList, url, settings_.maxCrlBytes);
        if (!response.ok())
            return nullptr;
        IndexPtr index = verifiedIndex(response.body, issuer, url);
        if (!index)
            return nullptr;
        // The list first: an index never stands without its list.
        if (cache_.write(Cache::stemFor("crl", url) + QStringLiteral(".der"), response.body))
            keepIndex(indexName(url), *index);
        std::lock_guard lock(mutex_);
        indexes_[url + '\n' + fingerprint(issuer)] = index;
        return index;
    }

    const Settings settings_;
    const QDateTime at_;
    const Cache cache_;
    std::optional<QByteArray> key_;
    FetchControl control_;
    std::mutex mutex_;
    std::map<QByteArray, IndexPtr> indexes_;
    Downloads downloads_;
};

// What a verified list's index says of `certificate`, listed or not.
std::optional<sig::RevocationStatus> answerFrom(const CrlIndex& index, X509* certificate,
                                                X509* issuer, sig::RevocationSource source,
                                                const QDateTime& at)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!index.appliesTo(certificate, issuer) || !index.issuedBefore(now))
        return std::nullopt;
    // Another partition than the one at its address says nothing here.
    if (index.partitioned())
        return std::nullopt;
    const sig::CrlAnswer answer = index.answerFor(certificate, now);
    // A list past its nextUpdate may still prove a revocation, but not that
    // there was none: a newer one may list the certificate. Judged at a
    // given instant, a list current then, or issued after it, speaks of it.
    const bool speaks =
        answer.current || (at.isValid() && (index.current(at) || answer.thisUpdate >= at));
    if (!speaks && !answer.listed)
        return std::nullopt;
    return sig::statusFromCrl(answer, source);
}

class CachedCrls : public sig::RevocationProvider {
public:
    explicit CachedCrls(std::shared_ptr<Session> session) : session_(std::move(session)) {}

    std::optional<sig::RevocationStatus> check(X509* certificate, X509* issuer) override
    {
        const ossl::ErrorQueueGuard guard;
        for (const QByteArray& url : distributionPoints(certificate)) {
            IndexPtr index = session_->cachedIndex(url, issuer);
            if (!index)
                continue;
            if (auto status = answerFrom(*index, certificate, issuer, sig::RevocationSource::Cache,
                                         session_->at()))
                return status;
        }
        return std::nullopt;
    }

private:
    std::shared_ptr<Session> session_;
};

class DownloadedCrls : public sig::RevocationProvider {
public:
    explicit DownloadedCrls(std::shared_ptr<Session> session) : session_(std::move(session)) {}
    bool usesNetwork() const override { return true; }

    std::optional<sig::RevocationStatus> check(X509* certificate, X509* issuer) override
    {
        const ossl::ErrorQueueGuard guard;
        for (const QByteArray& url : distributionPoints(certificate)) {
            IndexPtr index = session_->downloaded(url, issuer);
            if (!index)
                continue;
            if (auto status = answerFrom(*index, certificate, issuer,
                                         sig::RevocationSource::Download, session_->at()))
                return status;
        }
        return std::nullopt;
    }

private:
    std::shared_ptr<Session> session_;
};

class OcspResponder : public sig::RevocationProvider {
public:
    explicit OcspResponder(std::shared_ptr<Session> session) : session_(std::move(session)) {}
    bool usesNetwork() const override { return true; }

    std::optional<sig::RevocationStatus> check(X509* certificate, X509* issuer) override
    {
        const ossl::ErrorQueueGuard guard;
        for (const QByteArray& url : accessLocations(certificate, NID_ad_OCSP)) {
            std::optional<sig::RevocationStatus> status = ask(url, certificate, issuer);
            if (status)
                return status;
        }
        return std::nullopt;
    }

private:
    std::optional<sig::RevocationStatus> ask(const QByteArray& url, X509* certificate, X509* issuer)
    {
        const ossl::ErrorQueueGuard guard;
        ossl::UniqueOcspRequest request(OCSP_REQUEST_new());
        ossl::UniqueOcspCertId id(OCSP_cert_to_id(EVP_sha1(), certificate, issuer));
        ossl::UniqueOcspCertId asked(id ? OCSP_CERTID_dup(id.get()) : nullptr);
        if (!request || !asked || OCSP_request_add0_id(request.get(), asked.get()) == nullptr)
            return std::nullopt;
        asked.release();
        if (OCSP_request_add1_nonce(request.get(), nullptr, -1) != 1)
            return std::nullopt;
        const QByteArray body = ossl::encoded(i2d_OCSP_REQUEST, request.get());
        if (body.isEmpty())
            return std::nullopt;
        HttpResponse response =
            session_->fetch(FetchKind::Ocsp, url, session_->settings().maxSmallBytes, body,
                            "application/ocsp-request");
        return response.ok() ? judge(response.body, request.get(), certificate, issuer)
                             : std::nullopt;
    }

    static std::optional<sig::RevocationStatus> judge(const QByteArray& der, OCSP_REQUEST* request,
                                                      X509* certificate, X509* issuer)
    {
        const auto* cursor = reinterpret_cast<const unsigned char*>(der.constData());
        ossl::UniqueOcspResponse response(d2i_OCSP_RESPONSE(nullptr, &cursor, der.size()));
        if (!response || OCSP_response_status(response.get()) != OCSP_RESPONSE_STATUS_SUCCESSFUL)
            return std::nullopt;
        ossl::UniqueOcspBasic basic(OCSP_response_get1_basic(response.get()));
        // A nonce that differs is a replay; none at all is a responder
        // that answers from a store, judged by its update times.
        if (!basic || OCSP_check_nonce(request, basic.get()) == 0)
            return std::nullopt;
        return sig::ocspStatus(basic.get(), certificate, issuer, sig::RevocationSource::Ocsp,
                               QDateTime::currentDateTimeUtc(), sig::OcspAge::Current);
    }

    std::shared_ptr<Session> session_;
};

// A DER certificate, or the certificates of a certs-only PKCS#7.
std::vector<std::shared_ptr<X509>> certificatesIn(const QByteArray& der)
{
    const ossl::ErrorQueueGuard guard;
    std::vector<std::shared_ptr<X509>> found;
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.constData());
    if (ossl::UniqueX509 single{d2i_X509(nullptr, &cursor, der.size())}) {
        found.push_back(ossl::shared(std::move(single)));
        return found;
    }
    cursor = reinterpret_cast<const unsigned char*>(der.constData());
    ossl::UniquePkcs7 bundle(d2i_PKCS7(nullptr, &cursor, der.size()));
    STACK_OF(X509)* carried =
        bundle && PKCS7_type_is_signed(bundle.get()) && bundle->d.sign != nullptr
            ? bundle->d.sign->cert
            : nullptr;
    for (int i = 0; i < sk_X509_num(carried) && i < kMaxIssuerCandidates; ++i) {
        if (ossl::UniqueX509 own = ossl::upRef(sk_X509_value(carried, i)))
            found.push_back(ossl::shared(std::move(own)));
    }
    return found;
}

class CaIssuers : public sig::IssuerFetcher {
public:
    explicit CaIssuers(std::shared_ptr<Session> session) : session_(std::move(session)) {}

    std::vector<std::shared_ptr<X509>> fetchIssuers(X509* certificate, int& budget) override
    {
        const ossl::ErrorQueueGuard guard;
        const qint64 cap = session_->settings().maxSmallBytes;
        for (const QByteArray& url : accessLocations(certificate, NID_ad_ca_issuers)) {
            const QString name = Cache::stemFor("crt", url) + QStringLiteral(".der");
            if (std::optional<QByteArray> kept = session_->cache().read(name, cap)) {
                std::vector<std::shared_ptr<X509>> issuers = issuersIn(*kept, certificate);
                if (!issuers.empty())
                    return issuers;
            }
            // A kept answer that holds no issuer of this certificate is
            // replaced by a fresh one.
            if (session_->settings().offline || budget <= 0)
                continue;
            --budget;
            HttpResponse response = session_->fetchSmall(FetchKind::Issuer, url);
            std::vector<std::shared_ptr<X509>> issuers = response.ok()
                                                             ? issuersIn(response.body, certificate)
                                                             : std::vector<std::shared_ptr<X509>>{};
            if (!issuers.empty()) {
                session_->cache().write(name, response.body);
                return issuers;
            }
        }
        return {};
    }

private:
    static std::vector<std::shared_ptr<X509>> issuersIn(const QByteArray& der, X509* certificate)
    {
        const ossl::ErrorQueueGuard guard;
        std::vector<std::shared_ptr<X509>> issuers;
        for (const auto& candidate : certificatesIn(der)) {
            if (X509_check_issued(candidate.get(), certificate) == X509_V_OK)
                issuers.push_back(candidate);
        }
        return issuers;
    }

    std::shared_ptr<Session> session_;
};

} // namespace

std::shared_ptr<SharedFetches> sharedFetches()
{
    return std::make_shared<SharedFetches>();
}

sig::ValidationServices validationServices(const Settings& settings, const QDateTime& at)
{
    auto session = std::make_shared<Session>(settings, at);
    sig::ValidationServices services;
    services.at = at;
    if (settings.refresh && !settings.offline) {
        services.revocation.push_back(std::make_shared<DownloadedCrls>(session));
    } else {
        services.revocation.push_back(std::make_shared<CachedCrls>(session));
    }
    if (!settings.offline && !settings.refresh) {
        services.revocation.push_back(std::make_shared<DownloadedCrls>(session));
        if (!at.isValid())
            services.revocation.push_back(std::make_shared<OcspResponder>(session));
    }
    services.issuers = std::make_shared<CaIssuers>(session);
    services.abort = [session] { session->control().abort(); };
    services.tally = [session] {
        return signature::NetworkTally{session->control().requests(),
                                       session->control().answered()};
    };
    // Offline, every check is a look in the cache: no thread is worth
    // starting for it.
    services.parallelism = settings.offline ? 1 : settings.parallelism;
    return services;
}

} // namespace selavia::revocation
