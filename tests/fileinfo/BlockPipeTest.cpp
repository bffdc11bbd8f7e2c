#include "fileinfo/BlockPipe.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace fi = selavia::fileinfo;

namespace {

constexpr qsizetype kBlock = 1 << 20;

// Bytes that tell their place: a piece out of order or lost shows.
QByteArray counting(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// What fits one block is consumed on the thread that finishes the pipe,
// the rest on the pipe's own; either way every byte once, in order,
// whatever the pieces it was appended in.
TEST(BlockPipeTest, EveryByteOnceInOrderOnAThreadOnlyPastABlockUntilTheConsumerStops)
{
    // Sizes, and the pieces they are appended in; past 64 KiB the first
    // block grows.
    const std::vector<std::pair<qsizetype, qsizetype>> cases = {{0, 1},
                                                                {1000, 7},
                                                                {(64 << 10) + 1, 100},
                                                                {kBlock - 1, 1 << 16},
                                                                {kBlock, kBlock},
                                                                {kBlock + 1, 3000},
                                                                {3 * kBlock + kBlock / 2, 1 << 18},
                                                                {6 * kBlock, 5 * kBlock}};
    for (const auto& [size, piece] : cases) {
        SCOPED_TRACE(testing::Message() << size << " in pieces of " << piece);
        const QByteArray sent = counting(size);
        QByteArray received;
        std::set<std::thread::id> threads;
        fi::BlockPipe pipe([&](QByteArrayView bytes) {
            EXPECT_LE(bytes.size(), kBlock);
            received.append(bytes);
            threads.insert(std::this_thread::get_id());
            return true;
        });
        for (qsizetype at = 0; at < sent.size(); at += piece)
            pipe.append(QByteArrayView(sent).sliced(at, std::min(piece, sent.size() - at)));
        EXPECT_TRUE(pipe.finish());
        EXPECT_TRUE(received == sent);
        if (size > 0) {
            ASSERT_EQ(threads.size(), 1u);
            EXPECT_EQ(*threads.begin() != std::this_thread::get_id(), size >= kBlock);
        }
        EXPECT_TRUE(pipe.finish()) << "finishing twice changes nothing";

        // A consumer that stops is handed nothing more.
        int calls = 0;
        fi::BlockPipe stopping([&](QByteArrayView) {
            ++calls;
            return false;
        });
        stopping.append(sent);
        stopping.append(sent);
        EXPECT_EQ(stopping.finish(), size == 0);
        EXPECT_EQ(calls, size == 0 ? 0 : 1);
    }
}

} // namespace
