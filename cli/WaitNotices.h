#pragma once

// On a terminal, a verification that waits on the network says what for:
// each request that has gone unanswered for a second is told once on a
// line of standard error, which is cleared when the request ends or when
// anything else is written there.

#include "platform/revocation/Settings.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace selavia::cli {

// What a fetch brings, in words: "lista de certificados revogados", …
QString fetchKindText(revocation::FetchKind kind);

class WaitNotices {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Writer = std::function<void(const QString&)>;

    // `write` puts text on standard error; `clock` empty: the steady clock.
    // Inactive, nothing is ever told.
    WaitNotices(Writer write, bool active, Clock clock = {},
                std::chrono::milliseconds after = std::chrono::seconds(1));
    ~WaitNotices();
    WaitNotices(const WaitNotices&) = delete;
    WaitNotices& operator=(const WaitNotices&) = delete;

    // What the requests of a verification tell (revocation::Settings).
    revocation::FetchWatch watch();
    // Tells each request waiting longer than `after` that was not told yet.
    void tell();
    // Clears the line of a wait, if one is shown, before other output.
    void clearLine();
    // Runs `writing` (output of any other kind) with the line of a wait
    // cleared first, and no wait told meanwhile.
    void outside(const std::function<void()>& writing);

    // Calls tell() every tenth of a second on a thread of its own until
    // stopped (or destroyed); does nothing when inactive.
    void startTicking();
    void stopTicking();

private:
    struct Wait {
        QByteArray url;
        revocation::FetchKind kind;
        std::chrono::steady_clock::time_point since;
        bool told = false;
    };
    std::chrono::steady_clock::time_point now() const;
    void clearLocked();

    const Writer write_;
    const bool active_;
    const Clock clock_;
    const std::chrono::milliseconds after_;
    std::mutex mutex_;
    std::map<quint64, Wait> waits_;
    quint64 nextId_ = 0;
    bool lineShown_ = false;
    quint64 shownId_ = 0;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::thread ticker_;
};

} // namespace selavia::cli
