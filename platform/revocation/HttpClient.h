#pragma once

// Plain HTTP through OpenSSL's own client, bounded in time, size and
// redirects, and cancellable from another thread.

#include "Settings.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace selavia::revocation {

using Clock = std::chrono::steady_clock;

// Shared by the requests of one document: the time they may take together,
// each one's own limit, and a switch that ends those in flight at once. A
// watchdog thread shuts the socket of a request down when its time is up or
// the switch is thrown, which wakes OpenSSL's wait on it.
class FetchControl {
public:
    FetchControl(std::chrono::milliseconds perRequest, std::chrono::milliseconds budget);
    ~FetchControl();
    FetchControl(const FetchControl&) = delete;
    FetchControl& operator=(const FetchControl&) = delete;

    // From any thread: ends every request in flight and refuses new ones.
    void abort();
    bool aborted() const;

    // The moment a request starting now must end by; nullopt once the
    // budget is spent or the control aborted. The budget starts with the
    // first request.
    std::optional<Clock::time_point> nextDeadline();

    // Each request once, when it ends: whether an answer came back.
    void count(bool answered);
    int requests() const { return requests_; }
    int answered() const { return answered_; }

    // A socket in flight until its deadline; false when already aborted.
    bool watch(int fd, Clock::time_point deadline);
    void unwatch(int fd);

private:
    void watchdog();

    const std::chrono::milliseconds perRequest_;
    const std::chrono::milliseconds budget_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Clock::time_point> budgetEnd_;
    std::map<int, Clock::time_point> sockets_;
    bool aborted_ = false;
    bool stopping_ = false;
    std::atomic<int> requests_{0};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

struct HttpRequest {
    QByteArray url;
    qint64 maxBytes = 1 << 20;
    int maxRedirects = 3;
    QByteArray body;        // POST when not empty
    QByteArray contentType; // of the body
};

struct HttpResponse {
    QByteArray body;
    QString failure; // empty on success

    bool ok() const { return failure.isEmpty(); }
};

// Fetches one DER object (a CRL, a certificate, a PKCS#7, an OCSP answer):
// http only, through http_proxy unless no_proxy names the host.
HttpResponse httpFetch(const HttpRequest& request, FetchControl& control);
// The same, told to `watch` (when set) as it starts and as it ends.
HttpResponse httpFetch(const HttpRequest& request, FetchControl& control, const FetchWatch& watch,
                       FetchKind kind);

} // namespace selavia::revocation
