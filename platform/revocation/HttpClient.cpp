#include "HttpClient.h"

#include "fileinfo/UniqueFd.h"
#include "platform/signature/OpenSslHandles.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace selavia::revocation {
namespace {

namespace ossl = signature::ossl;
using namespace std::chrono_literals;

// How often a connection in progress looks at the clock and the switch.
constexpr auto kConnectSlice = 50ms;
// Reads of a large list in pieces this big (OpenSSL's default is 4 KiB).
constexpr int kReadBuffer = 64 * 1024;

struct Url {
    QByteArray host;
    QByteArray port;
    QByteArray path; // with its query
};

std::optional<Url> parseHttpUrl(const QByteArray& text, QString& failure)
{
    const ossl::ErrorQueueGuard guard;
    char* host = nullptr;
    char* port = nullptr;
    char* path = nullptr;
    int tls = 0;
    if (OSSL_HTTP_parse_url(text.constData(), &tls, nullptr, &host, &port, nullptr, &path, nullptr,
                            nullptr) != 1) {
        failure = QStringLiteral("endereço inválido");
        return std::nullopt;
    }
    ossl::UniqueOpenSslString ownHost(host), ownPort(port), ownPath(path);
    if (tls != 0 || !text.startsWith("http://")) {
        failure = QStringLiteral("somente endereços http são consultados");
        return std::nullopt;
    }
    return Url{QByteArray(host), QByteArray(port), QByteArray(path)};
}

int remainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<qint64>(left.count(), 0));
}

// A non-blocking connection, given up at the deadline or when aborted.
fileinfo::UniqueFd connectTo(const Url& target, Clock::time_point deadline, FetchControl& control,
                             QString& failure)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(target.host.constData(), target.port.constData(), &hints, &found) != 0) {
        failure = QStringLiteral("servidor não encontrado");
        return {};
    }
    fileinfo::UniqueFd connected;
    for (addrinfo* address = found; address != nullptr && !connected.valid();
         address = address->ai_next) {
        fileinfo::UniqueFd socket(::socket(address->ai_family,
                                           address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                           address->ai_protocol));
        if (!socket.valid())
            continue;
        const int fd = socket.get();
        int result = ::connect(fd, address->ai_addr, address->ai_addrlen);
        while (result != 0 && errno == EINPROGRESS && !control.aborted() &&
               remainingMs(deadline) > 0) {
            pollfd waiting{fd, POLLOUT, 0};
            const int ready =
                ::poll(&waiting, 1, std::min<int>(remainingMs(deadline), kConnectSlice.count()));
            if (ready > 0) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                result = 0;
                errno = error;
                if (error != 0)
                    result = -1;
                break;
            }
            errno = EINPROGRESS;
        }
        if (result == 0)
            connected = std::move(socket);
    }
    ::freeaddrinfo(found);
    if (!connected.valid())
        failure = control.aborted() ? QStringLiteral("consulta cancelada")
                                    : QStringLiteral("não foi possível conectar ao servidor");
    return connected;
}

struct Exchange {
    HttpResponse response;
    QByteArray redirect;
};

ossl::UniqueConfValues hostHeader(const Url& url)
{
    STACK_OF(CONF_VALUE)* headers = nullptr;
    const QByteArray value = url.port == "80" ? url.host : url.host + ':' + url.port;
    X509V3_add_value("Host", value.constData(), &headers);
    return ossl::UniqueConfValues(headers);
}

// One request and its answer, on a connection of its own.
Exchange exchangeOnce(const QByteArray& urlText, const HttpRequest& request, FetchControl& control)
{
    const ossl::ErrorQueueGuard guard;
    Exchange exchange;
    QString& failure = exchange.response.failure;
    std::optional<Url> url = parseHttpUrl(urlText, failure);
    if (!url)
        return exchange;
    std::optional<Clock::time_point> deadline = control.nextDeadline();
    if (!deadline) {
        failure = control.aborted() ? QStringLiteral("consulta cancelada")
                                    : QStringLiteral("tempo esgotado");
        return exchange;
    }
    // OpenSSL's reading of http_proxy and no_proxy.
    const char* proxy = OSSL_HTTP_adapt_proxy(nullptr, nullptr, url->host.constData(), 0);
    std::optional<Url> via = proxy != nullptr ? parseHttpUrl(QByteArray(proxy), failure) : url;
    if (!via)
        return exchange;
    const fileinfo::UniqueFd connection = connectTo(*via, *deadline, control, failure);
    if (!connection.valid())
        return exchange;
    const int fd = connection.get();
    if (!control.watch(fd, *deadline)) {
        failure = QStringLiteral("consulta cancelada");
        return exchange;
    }
    ossl::UniqueBio socket(BIO_new_socket(fd, BIO_NOCLOSE));
    // OpenSSL's own clock is a backstop; the watchdog keeps the real time.
    const int seconds = remainingMs(*deadline) / 1000 + 2;
    ossl::UniqueHttpContext context(
        socket ? OSSL_HTTP_open(url->host.constData(), url->port.constData(), nullptr, nullptr, 0,
                                socket.get(), socket.get(), nullptr, nullptr, kReadBuffer, seconds)
               : nullptr);
    ossl::UniqueBio body(
        request.body.isEmpty()
            ? nullptr
            : BIO_new_mem_buf(request.body.constData(), static_cast<int>(request.body.size())));
    ossl::UniqueConfValues headers = hostHeader(*url);
    const QByteArray target = proxy != nullptr ? urlText : url->path;
    char* location = nullptr;
    ossl::UniqueBio answer;
    if (context &&
        OSSL_HTTP_set1_request(context.get(), target.constData(), headers.get(),
                               body ? request.contentType.constData() : nullptr, body.get(),
                               nullptr, 1, static_cast<size_t>(request.maxBytes), seconds, 0) == 1)
        answer.reset(OSSL_HTTP_exchange(context.get(), &location));
    ossl::UniqueOpenSslString ownLocation(location);
    if (answer) {
        char* data = nullptr;
        const long length = BIO_get_mem_data(answer.get(), &data);
        exchange.response.body = QByteArray(data, static_cast<qsizetype>(length));
    } else if (location != nullptr) {
        exchange.redirect = QByteArray(location);
    } else {
        failure = control.aborted()             ? QStringLiteral("consulta cancelada")
                  : remainingMs(*deadline) == 0 ? QStringLiteral("tempo esgotado")
                                                : QStringLiteral("resposta recusada");
    }
    // The socket is given back to the watchdog before it is closed, so that
    // no other connection reusing the number can be cut off in its place.
    answer.reset();
    context.reset();
    socket.reset();
    control.unwatch(fd);
    return exchange;
}

} // namespace

FetchControl::FetchControl(std::chrono::milliseconds perRequest, std::chrono::milliseconds budget)
    : perRequest_(perRequest), budget_(budget)
{
}

FetchControl::~FetchControl()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void FetchControl::abort()
{
    {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        for (const auto& [fd, deadline] : sockets_)
            ::shutdown(fd, SHUT_RDWR);
    }
    changed_.notify_all();
}

bool FetchControl::aborted() const
{
    std::lock_guard lock(mutex_);
    return aborted_;
}

std::optional<Clock::time_point> FetchControl::nextDeadline()
{
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    if (!budgetEnd_)
        budgetEnd_ = now + budget_;
    if (aborted_ || now >= *budgetEnd_)
        return std::nullopt;
    return std::min(now + perRequest_, *budgetEnd_);
}

bool FetchControl::watch(int fd, Clock::time_point deadline)
{
    {
        std::lock_guard lock(mutex_);
        if (aborted_)
            return false;
        sockets_[fd] = deadline;
        // Started with the first request: most documents make none.
        if (!thread_.joinable())
            thread_ = std::thread([this] { watchdog(); });
    }
    changed_.notify_all();
    return true;
}

void FetchControl::unwatch(int fd)
{
    std::lock_guard lock(mutex_);
    sockets_.erase(fd);
}

void FetchControl::watchdog()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> earliest;
        for (auto& [fd, deadline] : sockets_) {
            if (deadline <= now) {
                ::shutdown(fd, SHUT_RDWR);
                deadline = Clock::time_point::max(); // once
            } else if (!earliest || deadline < *earliest) {
                earliest = deadline;
            }
        }
        if (earliest)
            changed_.wait_until(lock, *earliest);
        else
            changed_.wait(lock);
    }
}

void FetchControl::count(bool answered)
{
    ++requests_;
    if (answered)
        ++answered_;
}

HttpResponse httpFetch(const HttpRequest& request, FetchControl& control)
{
    QByteArray url = request.url;
    for (int redirects = 0;; ++redirects) {
        Exchange exchange = exchangeOnce(url, request, control);
        if (exchange.redirect.isEmpty()) {
            control.count(exchange.response.ok());
            return exchange.response;
        }
        if (redirects >= request.maxRedirects) {
            control.count(false);
            return {{}, QStringLiteral("redirecionamentos demais")};
        }
        // A path alone stays on the same server.
        if (exchange.redirect.startsWith('/') && !exchange.redirect.startsWith("//"))
            url = url.left(url.indexOf('/', qsizetype(7))) + exchange.redirect;
        else
            url = exchange.redirect;
    }
}

HttpResponse httpFetch(const HttpRequest& request, FetchControl& control, const FetchWatch& watch,
                       FetchKind kind)
{
    if (!watch)
        return httpFetch(request, control);
    const FetchEnd ended = watch(request.url, kind);
    HttpResponse response = httpFetch(request, control);
    if (ended)
        ended(response.failure);
    return response;
}

} // namespace selavia::revocation
