#include "SummingInput.h"

#include "OpenSslHandles.h"
#include "SignatureError.h"

#include <array>
#include <openssl/err.h>
#include <openssl/evp.h>

namespace selavia::signature {
namespace {

// Kept out-of-order bytes beyond which the gap before them is read at once.
constexpr qint64 kMaxAhead = qint64(8) << 20;
constexpr qint64 kFillBlock = qint64(1) << 20;

} // namespace

struct Sha256::Context {
    ossl::UniqueEvpMdCtx md{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>())
{
    const ossl::ErrorQueueGuard guard;
    if (!context_->md || EVP_DigestInit_ex(context_->md.get(), EVP_sha256(), nullptr) != 1)
        throw SignatureError::fromOpenSsl(code::kInternal);
}

Sha256::~Sha256() = default;

void Sha256::add(QByteArrayView bytes)
{
    const ossl::ErrorQueueGuard guard;
    if (EVP_DigestUpdate(context_->md.get(), bytes.data(), static_cast<size_t>(bytes.size())) != 1)
        throw SignatureError::fromOpenSsl(code::kInternal);
}

QByteArray Sha256::result()
{
    const ossl::ErrorQueueGuard guard;
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->md.get(), digest.data(), &length) != 1)
        throw SignatureError::fromOpenSsl(code::kInternal);
    return QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<int>(length));
}

QByteArray Sha256::of(QByteArrayView bytes)
{
    Sha256 sum;
    sum.add(bytes);
    return sum.result();
}

qint64 SummingInput::read(qint64 offset, char* buffer, qint64 length)
{
    const qint64 got = input_.read(offset, buffer, length);
    if (got > 0) {
        std::lock_guard lock(mutex_);
        absorb(offset, QByteArrayView(buffer, got));
    }
    return got;
}

void SummingInput::absorb(qint64 offset, QByteArrayView bytes)
{
    const qint64 end = offset + bytes.size();
    if (end <= summed_)
        return;
    if (offset > summed_) {
        QByteArray& kept = ahead_[offset];
        if (kept.size() < bytes.size()) {
            aheadBytes_ += bytes.size() - kept.size();
            kept = bytes.toByteArray();
        }
        if (aheadBytes_ > kMaxAhead)
            fillUpTo(offset);
        return;
    }
    pipe_.append(bytes.sliced(summed_ - offset));
    summed_ = end;
    // What was kept may follow on now.
    while (!ahead_.empty() && ahead_.begin()->first <= summed_) {
        const QByteArray kept = std::move(ahead_.begin()->second);
        const qint64 start = ahead_.begin()->first;
        ahead_.erase(ahead_.begin());
        aheadBytes_ -= kept.size();
        if (start + kept.size() > summed_) {
            pipe_.append(QByteArrayView(kept).sliced(summed_ - start));
            summed_ = start + kept.size();
        }
    }
}

void SummingInput::fillUpTo(qint64 end)
{
    // Usually all was read already: nothing to allocate.
    if (failed_ || summed_ >= end)
        return;
    QByteArray block(std::min(kFillBlock, end - summed_), Qt::Uninitialized);
    while (!failed_ && summed_ < end) {
        const qint64 wanted = std::min(kFillBlock, end - summed_);
        const qint64 got = input_.read(summed_, block.data(), wanted);
        if (got <= 0) {
            failed_ = true;
            break;
        }
        absorb(summed_, QByteArrayView(block.constData(), got));
    }
}

bool SummingInput::add(QByteArrayView bytes)
{
    try {
        sum_.add(bytes);
        if (sink_)
            sink_(bytes);
        return true;
    } catch (const SignatureError&) {
        return false;
    }
}

QByteArray SummingInput::finish()
{
    std::lock_guard lock(mutex_);
    fillUpTo(input_.size());
    const bool summed = pipe_.finish();
    if (!summed || failed_ || summed_ != input_.size())
        return {};
    return sum_.result();
}

} // namespace selavia::signature
