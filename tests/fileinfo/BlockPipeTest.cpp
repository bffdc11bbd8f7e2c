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
TEST(BlockPipeTest, EveryByteOnceInOrderOnAThreadOnlyPastABlock)
{
    struct Case {
        qsizetype size;
        qsizetype piece; // appended this much at a time
        bool ownThread;
    };
    const std::vector<Case> cases = {
        {0, 1, false},
        {1, 1, false},
        {1000, 7, false},
        {(64 << 10) - 1, 4096, false},
        {(64 << 10) + 1, 4096, false}, // the first block grows
        {(64 << 10) + 1, 100, false},
        {kBlock - 1, 1 << 16, false},
        {kBlock, kBlock, true},
        {kBlock + 1, 3000, true},
        {3 * kBlock + kBlock / 2, 1 << 18, true},
        {6 * kBlock, 5 * kBlock, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " in pieces of " << c.piece);
        const QByteArray sent = counting(c.size);
        QByteArray received;
        std::set<std::thread::id> threads;
        fi::BlockPipe pipe([&](QByteArrayView bytes) {
            EXPECT_LE(bytes.size(), kBlock);
            received.append(bytes);
            threads.insert(std::this_thread::get_id());
            return true;
        });
        for (qsizetype at = 0; at < sent.size(); at += c.piece)
            pipe.append(QByteArrayView(sent).sliced(at, std::min(c.piece, sent.size() - at)));
        EXPECT_TRUE(pipe.finish());
        EXPECT_TRUE(received == sent);
        if (c.size > 0) {
            ASSERT_EQ(threads.size(), 1u);
            EXPECT_EQ(*threads.begin() != std::this_thread::get_id(), c.ownThread);
        }
        EXPECT_TRUE(pipe.finish()) << "finishing twice changes nothing";
    }
}

TEST(BlockPipeTest, AConsumerThatStopsDropsWhatFollows)
{
    for (const qsizetype size : {qsizetype(10), 3 * kBlock}) {
        SCOPED_TRACE(size);
        int calls = 0;
        fi::BlockPipe pipe([&](QByteArrayView) {
            ++calls;
            return false;
        });
        pipe.append(counting(size));
        pipe.append(counting(size));
        EXPECT_FALSE(pipe.finish());
        EXPECT_EQ(calls, 1);
    }
}

} // namespace
