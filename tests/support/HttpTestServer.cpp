#include "tests/support/HttpTestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace selavia::testing {
namespace {

// Requests larger than this are refused: the tests send small ones.
constexpr std::size_t kMaxRequest = 1 << 20;

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads one request; false when the peer went away first.
bool readRequest(int fd, HttpRequestSeen& request)
{
    std::string data;
    std::size_t headerEnd = std::string::npos;
    std::size_t length = 0;
    char buffer[16384];
    for (;;) {
        if (headerEnd == std::string::npos) {
            headerEnd = data.find("\r\n\r\n");
            if (headerEnd != std::string::npos) {
                std::string lower = data.substr(0, headerEnd);
                std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
                const std::size_t at = lower.find("content-length:");
                if (at != std::string::npos)
                    length = std::strtoul(lower.c_str() + at + 15, nullptr, 10);
            }
        }
        if (headerEnd != std::string::npos && data.size() >= headerEnd + 4 + length)
            break;
        if (data.size() > kMaxRequest)
            return false;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t methodEnd = data.find(' ');
    const std::size_t targetEnd = data.find(' ', methodEnd + 1);
    if (methodEnd == std::string::npos || targetEnd == std::string::npos)
        return false;
    request.method = data.substr(0, methodEnd);
    request.target = data.substr(methodEnd + 1, targetEnd - methodEnd - 1);
    request.path = request.target;
    if (request.path.rfind("http://", 0) == 0) {
        const std::size_t slash = request.path.find('/', 7);
        request.path = slash == std::string::npos ? "/" : request.path.substr(slash);
    }
    request.body = data.substr(headerEnd + 4, length);
    return true;
}

} // namespace

HttpTestServer::HttpTestServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer()
{
    stop();
}

std::string HttpTestServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpTestServer::route(const std::string& path, HttpReply reply)
{
    route(path, [reply](const HttpRequestSeen&) { return reply; });
}

void HttpTestServer::route(const std::string& path, Handler handler)
{
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
}

int HttpTestServer::count(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(seen_.begin(), seen_.end(),
                                          [&](const auto& seen) { return seen.path == path; }));
}

int HttpTestServer::total() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(seen_.size());
}

std::vector<HttpRequestSeen> HttpTestServer::requests() const
{
    std::lock_guard lock(mutex_);
    return seen_;
}

void HttpTestServer::stop()
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
        for (int fd : open_)
            ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
    acceptor_.join();
    for (std::thread& connection : connections_)
        connection.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void HttpTestServer::acceptLoop()
{
    for (;;) {
        pollfd waiting[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(waiting, 2, -1) < 0 && errno != EINTR)
            return;
        if (waiting[1].revents != 0)
            return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        open_.push_back(fd);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

HttpReply HttpTestServer::answer(const HttpRequestSeen& request)
{
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        seen_.push_back(request);
        if (auto found = routes_.find(request.path); found != routes_.end())
            handler = found->second;
    }
    return handler ? handler(request) : HttpReply{404, "", {}, 0, false};
}

void HttpTestServer::serve(int fd)
{
    HttpRequestSeen request;
    if (readRequest(fd, request)) {
        const HttpReply reply = answer(request);
        bool goOn = true;
        if (reply.delayMs > 0) {
            std::unique_lock lock(mutex_);
            goOn = !stopped_.wait_for(lock, std::chrono::milliseconds(reply.delayMs),
                                      [this] { return stopping_; });
        }
        if (goOn && !reply.hangUp) {
            std::string head = "HTTP/1.0 " + std::to_string(reply.status) + " Resposta\r\n" +
                               "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
            for (const auto& [name, value] : reply.headers)
                head += name + ": " + value + "\r\n";
            sendAll(fd, head + "\r\n" + reply.body);
        }
    }
    std::lock_guard lock(mutex_);
    open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

} // namespace selavia::testing
