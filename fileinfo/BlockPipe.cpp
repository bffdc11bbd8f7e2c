#include "fileinfo/BlockPipe.h"

#include <algorithm>
#include <cstring>

namespace selavia::fileinfo {
namespace {

// Blocks of this size; at most kQueued wait for the consumer.
constexpr qsizetype kBlock = 1 << 20;
constexpr std::size_t kQueued = 4;
// The first block's size when the first bytes are fewer: below what malloc
// maps on its own.
constexpr qsizetype kFirstBlock = 64 << 10;

} // namespace

BlockPipe::BlockPipe(Consumer consume) : consume_(std::move(consume)) {}

BlockPipe::~BlockPipe()
{
    (void)finish();
}

void BlockPipe::append(QByteArrayView bytes)
{
    std::unique_lock lock(mutex_);
    while (!bytes.isEmpty() && !stopped_ && !closing_) {
        if (!filling_.bytes && !spare_.empty()) {
            filling_.bytes = std::move(spare_.back());
            filling_.capacity = kBlock;
            spare_.pop_back();
        } else if (!filling_.bytes) {
            filling_.capacity = bytes.size() < kFirstBlock ? kFirstBlock : kBlock;
            filling_.bytes = std::make_unique_for_overwrite<char[]>(filling_.capacity);
        } else if (filling_.size + bytes.size() > filling_.capacity && filling_.capacity < kBlock) {
            auto whole = std::make_unique_for_overwrite<char[]>(kBlock);
            std::memcpy(whole.get(), filling_.bytes.get(), static_cast<std::size_t>(filling_.size));
            filling_.bytes = std::move(whole);
            filling_.capacity = kBlock;
        }
        const qsizetype take = std::min(bytes.size(), filling_.capacity - filling_.size);
        std::memcpy(filling_.bytes.get() + filling_.size, bytes.data(),
                    static_cast<std::size_t>(take));
        filling_.size += take;
        bytes = bytes.sliced(take);
        if (filling_.size == kBlock)
            handOver(lock);
    }
}

void BlockPipe::handOver(std::unique_lock<std::mutex>& lock)
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    changed_.wait(lock, [&] { return queue_.size() < kQueued || stopped_; });
    queue_.push_back(std::move(filling_));
    filling_ = Block{};
    changed_.notify_all();
}

bool BlockPipe::finish()
{
    {
        std::unique_lock lock(mutex_);
        if (!thread_.joinable()) {
            // Less than a block came: consumed here, without a thread.
            Block last = std::move(filling_);
            filling_ = Block{};
            const bool pending = last.size > 0 && !stopped_ && !closing_;
            closing_ = true;
            if (pending) {
                lock.unlock();
                const bool going = consume_(QByteArrayView(last.bytes.get(), last.size));
                lock.lock();
                stopped_ = stopped_ || !going;
            }
            return !stopped_;
        }
        if (filling_.size > 0 && !stopped_ && !closing_)
            handOver(lock);
        closing_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    return !stopped_;
}

void BlockPipe::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
        if (queue_.empty())
            return;
        Block block = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        if (!stopped_) {
            lock.unlock();
            const bool going = consume_(QByteArrayView(block.bytes.get(), block.size));
            lock.lock();
            stopped_ = stopped_ || !going;
        }
        if (block.capacity == kBlock)
            spare_.push_back(std::move(block.bytes));
        changed_.notify_all();
    }
}

} // namespace selavia::fileinfo
