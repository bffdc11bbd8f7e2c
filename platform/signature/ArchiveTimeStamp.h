#pragma once

// What an archive time-stamp (v2, unsigned attribute 1.2.840.113549.1.9.16.2.48)
// covers, and content time-stamps (signed attribute
// 1.2.840.113549.1.9.16.2.20): both are checked by carrying on from the
// content's digests as the verifying pass left them, so the content is read
// once however large.

#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

typedef struct evp_md_st EVP_MD;
typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct CMS_ContentInfo_st CMS_ContentInfo;

namespace selavia::signature {

// The content summed once per algorithm, unfinished.
using ContentDigests = std::vector<std::shared_ptr<const EVP_MD_CTX>>;

// What follows the content in an archive time-stamp's imprint, but the
// signer's unsigned attributes: each certificate and list of the message as
// encoded there, in order, then a signer's fields from its version to its
// signature (paired with its signature value, which names it).
struct ArchiveCoverage {
    QByteArray collections;
    std::vector<std::pair<QByteArray, QByteArray>> signerHeads;
};

namespace detail {
// The hash under `md` of the content followed by `more`; nullopt when the
// content was not summed under `md`.
std::optional<QByteArray> contentHashThen(const ContentDigests& digests, const EVP_MD* md,
                                          QByteArrayView more = {});
// Empty when the message cannot be encoded again or is too large.
ArchiveCoverage archiveCoverageOf(CMS_ContentInfo* cms);
} // namespace detail

} // namespace selavia::signature
