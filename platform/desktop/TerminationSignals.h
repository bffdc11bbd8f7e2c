#pragma once

#include "fileinfo/UniqueFd.h"

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace selavia::desktop {

// Turns SIGTERM, SIGINT and SIGHUP into a call made from the event loop, so
// the program removes what it wrote before it ends. The signal handler only
// writes the signal's number into a pipe; `onSignal` runs when the event
// loop, or any processEvents call, reads it. One instance at a time; the
// previous handlers come back when it goes.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe could not be made or another instance is active;
    // the signals then keep their previous handling.
    bool installed() const { return installed_; }
    // The first signal received, 0 while there was none.
    int received() const { return received_; }

private:
    void readSignals();

    std::function<void(int)> onSignal_;
    fileinfo::UniqueFd readEnd_;
    fileinfo::UniqueFd writeEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[3] = {};
    bool installed_ = false;
    int received_ = 0;
};

} // namespace selavia::desktop
