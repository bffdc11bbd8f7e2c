#pragma once

// The SHA-256 of a whole signed file, summed from the very reads that
// verify it: every byte once, in order, so a report names the bytes that
// were verified without a second pass over the file.

#include "SignedData.h"
#include "fileinfo/BlockPipe.h"

#include <QByteArray>
#include <QByteArrayView>
#include <map>
#include <memory>
#include <mutex>

namespace selavia::signature {

// SHA-256, fed piece by piece. Throws SignatureError when libcrypto fails.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(QByteArrayView bytes);
    QByteArray result(); // 32 bytes; the sum is done then

    static QByteArray of(QByteArrayView bytes);

private:
    // Its OpenSSL handle, kept out of this header.
    struct Context;
    std::unique_ptr<Context> context_;
};

// Passes reads through to `input` and sums what they return. A read beyond
// what is summed so far is kept until the bytes before it come (a parser
// reads a message's end before its content), up to a bound past which the
// gap is read at once; what no read asked for is read by finish().
class SummingInput : public MessageInput {
public:
    // `sink`, when given, receives every byte once, in order, as it is summed
    // (on the summing thread): the whole input as verified.
    explicit SummingInput(MessageInput& input, ContentSink sink = {})
        : input_(input), sink_(std::move(sink))
    {
    }

    qint64 size() const override { return input_.size(); }
    qint64 read(qint64 offset, char* buffer, qint64 length) override;

    // The SHA-256 of the whole input; empty when it could not all be read.
    QByteArray finish();

private:
    void absorb(qint64 offset, QByteArrayView bytes);
    bool add(QByteArrayView bytes);
    void fillUpTo(qint64 end);

    MessageInput& input_;
    ContentSink sink_;
    std::mutex mutex_;
    Sha256 sum_; // fed on the pipe's thread, beside the verifying reads
    fileinfo::BlockPipe pipe_{[this](QByteArrayView bytes) { return add(bytes); }};
    qint64 summed_ = 0; // bytes [0, summed_) are in the sum
    std::map<qint64, QByteArray> ahead_;
    qint64 aheadBytes_ = 0;
    bool failed_ = false;
};

} // namespace selavia::signature
