#pragma once

// What a process remembers across files, keyed by content digests: safe to
// share between threads, and bounded, so that an archive of any size never
// grows it past `limit` entries.

#include <QByteArray>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>

namespace selavia::signature {

template <typename Value> class BoundedMemo {
public:
    explicit BoundedMemo(std::size_t limit) : limit_(limit) {}

    std::optional<Value> find(const QByteArray& key) const
    {
        const std::lock_guard lock(mutex_);
        const auto found = kept_.find(key);
        if (found == kept_.end())
            return std::nullopt;
        return found->second;
    }

    void keep(const QByteArray& key, Value value)
    {
        const std::lock_guard lock(mutex_);
        // Past the limit, start over rather than track ages.
        if (kept_.size() >= limit_)
            kept_.clear();
        kept_.emplace(key, std::move(value));
    }

private:
    mutable std::mutex mutex_;
    std::map<QByteArray, Value> kept_;
    std::size_t limit_;
};

} // namespace selavia::signature
