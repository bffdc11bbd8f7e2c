#include "platform/pdf/ByteRanges.h"

#include "platform/signature/OpenSslHandles.h"

#include <algorithm>
#include <openssl/evp.h>

namespace selavia::pdf {

ByteRangeInput::ByteRangeInput(signature::MessageInput& file, std::vector<qint64> byteRange)
    : file_(file), ranges_(std::move(byteRange))
{
    for (std::size_t i = 1; i < ranges_.size(); i += 2)
        size_ += ranges_[i];
}

qint64 ByteRangeInput::read(qint64 offset, char* buffer, qint64 length)
{
    qint64 done = 0;
    qint64 start = 0; // where the current range begins in this input
    for (std::size_t i = 0; i + 1 < ranges_.size() && done < length; i += 2) {
        const qint64 rangeLength = ranges_[i + 1];
        const qint64 at = offset + done;
        if (at < start + rangeLength) {
            const qint64 take = std::min(length - done, start + rangeLength - at);
            const qint64 got = file_.read(ranges_[i] + (at - start), buffer + done, take);
            if (got < 0)
                return done > 0 ? done : -1;
            done += got;
            if (got < take)
                return done;
        }
        start += rangeLength;
    }
    return done;
}

std::optional<QByteArray> digestOfRanges(signature::MessageInput& file,
                                         const std::vector<qint64>& byteRange, const EVP_MD* md)
{
    ByteRangeInput input(file, byteRange);
    signature::ossl::UniqueEvpMdCtx context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1)
        return std::nullopt;
    QByteArray block(1 << 20, '\0');
    for (qint64 at = 0; at < input.size();) {
        const qint64 got =
            input.read(at, block.data(), std::min<qint64>(block.size(), input.size() - at));
        if (got <= 0 || EVP_DigestUpdate(context.get(), block.constData(), got) != 1)
            return std::nullopt;
        at += got;
    }
    QByteArray digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char*>(digest.data()),
                           &length) != 1)
        return std::nullopt;
    digest.resize(length);
    return digest;
}

} // namespace selavia::pdf
