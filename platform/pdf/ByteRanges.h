#pragma once

// The bytes a PDF signature's /ByteRange names, read as one input: what
// its CMS signs, or what a document time-stamp's imprint sums.

#include "platform/signature/SignedData.h"

#include <QByteArray>
#include <optional>
#include <vector>

typedef struct evp_md_st EVP_MD;

namespace selavia::pdf {

// The ranges [offset, length, offset, length, …] of `file`, concatenated.
// Ranges must lie within the file (the reader checks them first).
class ByteRangeInput : public signature::MessageInput {
public:
    ByteRangeInput(signature::MessageInput& file, std::vector<qint64> byteRange);
    qint64 size() const override { return size_; }
    qint64 read(qint64 offset, char* buffer, qint64 length) override;

private:
    signature::MessageInput& file_;
    std::vector<qint64> ranges_;
    qint64 size_ = 0;
};

// The digest under `md` of the ranges' bytes; nullopt when they cannot be
// read or summed.
std::optional<QByteArray> digestOfRanges(signature::MessageInput& file,
                                         const std::vector<qint64>& byteRange, const EVP_MD* md);

} // namespace selavia::pdf
