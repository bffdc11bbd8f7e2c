#pragma once

// Bytes handed from one thread to a consumer running on a thread of its own,
// in order, so that reading and what is done with the bytes (writing them,
// summing them) overlap. A few fixed-size blocks go round and round: the
// memory used does not grow with the bytes that pass. Bytes that fit one
// block are consumed by finish() on the caller's thread, in a block no
// larger than they need: a small file starts no thread and maps no block.

#include <QByteArrayView>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace selavia::fileinfo {

class BlockPipe {
public:
    // Called on the pipe's thread (or, for what fits one block, on the
    // thread that calls finish()) with the bytes in the order appended, in
    // pieces of up to a block; false stops it, and what follows is dropped.
    using Consumer = std::function<bool(QByteArrayView)>;

    explicit BlockPipe(Consumer consume);
    ~BlockPipe();
    BlockPipe(const BlockPipe&) = delete;
    BlockPipe& operator=(const BlockPipe&) = delete;

    // Copies `bytes` for the consumer; waits while enough is queued.
    void append(QByteArrayView bytes);
    // Waits until everything appended was consumed; false when the
    // consumer stopped. The pipe takes nothing more afterwards.
    bool finish();

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        qsizetype size = 0;
        qsizetype capacity = 0;
    };

    void run();
    void handOver(std::unique_lock<std::mutex>& lock);

    Consumer consume_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> queue_;
    std::vector<std::unique_ptr<char[]>> spare_; // consumed whole blocks, reused
    Block filling_;
    bool closing_ = false;
    bool stopped_ = false;
    std::thread thread_; // started with the first whole block
};

} // namespace selavia::fileinfo
