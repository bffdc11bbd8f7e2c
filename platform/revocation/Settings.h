#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace selavia::revocation {

// What a request asks for.
enum class FetchKind {
    RevocationList, // a CRL from a distribution point
    Ocsp,           // an OCSP answer
    Issuer,         // a missing issuer certificate (caIssuers)
    PolicyList,     // ITI's list of signature policies or its signature
};

// Told on the requesting thread as a request starts, with its address;
// what it returns is called once the request ended, with why it got no
// answer (empty when answered).
using FetchEnd = std::function<void(const QString& failure)>;
using FetchWatch = std::function<FetchEnd(const QByteArray& url, FetchKind kind)>;

// What the documents of one cache refresh fetched, shared between them
// (RevocationService.h makes it).
struct SharedFetches;

// How revocation data may be had: from the network or not, where it is
// kept, and the bounds on every request.
struct Settings {
    bool offline = false; // no request at all; the cache is still read
    // Set when filling a cache that others will read: every revocation
    // list is fetched anew, whatever the cache holds, no OCSP responder is
    // asked, and the documents given the same one fetch each list and
    // issuer once between them.
    std::shared_ptr<SharedFetches> refresh;
    QString cacheFolder; // empty: no cache
    // The key that seals the indexes of the cache, kept outside it; empty:
    // no index is believed, and each cached list is verified again.
    QString cacheKeyFile;
    int requestTimeoutMs = 10'000;
    int documentBudgetMs = 30'000; // every request of one document together
    int maxRedirects = 3;
    qint64 maxCrlBytes = qint64(256) << 20;
    qint64 maxSmallBytes = qint64(1) << 20;   // a certificate or an OCSP answer
    qint64 maxIndexBytes = qint64(256) << 20; // a cached list's index
    qint64 cacheCapBytes = qint64(1) << 30;
    int parallelism = 4;
    // Where ITI publishes its lists of signature policies.
    QByteArray policyBaseUrl = QByteArrayLiteral("http://politicas.icpbrasil.gov.br");
    // Empty: nobody is told of requests.
    FetchWatch watchFetch;

    // SELAVIA_OFFLINE=1 forbids requests; the cache folder is
    // $SELAVIA_CACHE_DIR, else $XDG_CACHE_HOME/selavia-reader, else
    // ~/.cache/selavia-reader. The cache's key is $SELAVIA_CACHE_KEY, else
    // selavia-reader/cache-key under $XDG_DATA_HOME, else under
    // ~/.local/share. $SELAVIA_POLICY_BASE_URL, when set, stands for ITI's
    // site (tests serve their own lists).
    static Settings fromEnvironment();
    static QString defaultCacheFolder();
    static QString defaultCacheKeyFile();
};

} // namespace selavia::revocation
