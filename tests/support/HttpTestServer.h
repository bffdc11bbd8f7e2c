#pragma once

// A small HTTP server on 127.0.0.1 (an ephemeral port) for the tests that
// fetch revocation data: fixed or computed answers per path, delays,
// redirects, hang-ups, and a count of what was asked. It stops with the
// test, waking any answer it was holding back.

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace selavia::testing {

struct HttpReply {
    int status = 200;
    std::string body{};
    std::vector<std::pair<std::string, std::string>> headers{};
    int delayMs = 0;     // held back this long (or until the server stops)
    bool hangUp = false; // the connection closes without an answer
};

struct HttpRequestSeen {
    std::string method;
    std::string target; // as sent: a path, or an absolute URL through a proxy
    std::string path;
    std::string body{};
};

class HttpTestServer {
public:
    using Handler = std::function<HttpReply(const HttpRequestSeen&)>;

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + path
    std::string url(const std::string& path) const;

    void route(const std::string& path, HttpReply reply);
    void route(const std::string& path, Handler handler);

    // Requests seen for `path`, and in all.
    int count(const std::string& path) const;
    int total() const;
    std::vector<HttpRequestSeen> requests() const;

    void stop();

private:
    void acceptLoop();
    void serve(int fd);
    HttpReply answer(const HttpRequestSeen& request);

    int listener_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::map<std::string, Handler> routes_;
    std::vector<HttpRequestSeen> seen_;
    std::vector<int> open_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

} // namespace selavia::testing
