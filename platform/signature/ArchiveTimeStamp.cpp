#include "ArchiveTimeStamp.h"

#include "Limits.h"
#include "OpenSslHandles.h"

#include <array>
#include <openssl/cms.h>
#include <openssl/evp.h>

namespace selavia::signature::detail {
namespace {

struct Element {
    unsigned char tag = 0;
    QByteArrayView whole; // tag, length and content
    QByteArrayView content;
};

// The elements one after another in `der`, definite lengths only (the
// message is DER once OpenSSL wrote it again); empty on any damage.
std::vector<Element> elementsOf(QByteArrayView der)
{
    std::vector<Element> elements;
    qsizetype at = 0;
    while (at < der.size()) {
        if (der.size() - at < 2)
            return {};
        const auto tag = static_cast<unsigned char>(der[at]);
        qsizetype length = static_cast<unsigned char>(der[at + 1]);
        qsizetype header = 2;
        if (length & 0x80) {
            const int bytes = static_cast<int>(length & 0x7f);
            if (bytes == 0 || bytes > 4 || der.size() - at < 2 + bytes)
                return {};
            length = 0;
            for (int i = 0; i < bytes; ++i)
                length = (length << 8) | static_cast<unsigned char>(der[at + 2 + i]);
            header += bytes;
        }
        if (length > der.size() - at - header)
            return {};
        elements.push_back({tag, der.sliced(at, header + length), der.sliced(at + header, length)});
        at += header + length;
    }
    return elements;
}

// The one element `der` is made of, opened.
std::vector<Element> inside(QByteArrayView der)
{
    const std::vector<Element> outer = elementsOf(der);
    return outer.size() == 1 ? elementsOf(outer.front().content) : std::vector<Element>{};
}

// A signer's fields up to its signature, the first OCTET STRING among them.
std::optional<std::pair<QByteArray, QByteArray>> headOf(const Element& signerInfo)
{
    QByteArray head;
    for (const Element& field : elementsOf(signerInfo.content)) {
        head += field.whole;
        if (field.tag == 0x04)
            return std::make_pair(QByteArray(field.content.toByteArray()), head);
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> contentHashThen(const ContentDigests& digests, const EVP_MD* md,
                                          QByteArrayView more)
{
    for (const std::shared_ptr<const EVP_MD_CTX>& summed : digests) {
        if (EVP_MD_get_type(EVP_MD_CTX_get0_md(summed.get())) != EVP_MD_get_type(md))
            continue;
        ossl::UniqueEvpMdCtx copy(EVP_MD_CTX_new());
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        if (!copy || EVP_MD_CTX_copy_ex(copy.get(), summed.get()) != 1 ||
            EVP_DigestUpdate(copy.get(), more.data(), static_cast<size_t>(more.size())) != 1 ||
            EVP_DigestFinal_ex(copy.get(), digest.data(), &length) != 1)
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char*>(digest.data()), length);
    }
    return std::nullopt;
}

ArchiveCoverage archiveCoverageOf(CMS_ContentInfo* cms)
{
    ArchiveCoverage coverage;
    const QByteArray der = ossl::encoded(i2d_CMS_ContentInfo, cms);
    if (der.isEmpty() || der.size() > limits::kMaxWholeMessageBytes)
        return coverage;
    const std::vector<Element> contentInfo = inside(der);
    if (contentInfo.size() != 2)
        return coverage;
    const std::vector<Element> signedData = inside(contentInfo[1].content);
    // OpenSSL writes sets sorted: the message's own order is the parser's.
    ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i)
        coverage.collections += ossl::encoded(i2d_X509, sk_X509_value(certificates.get(), i));
    ossl::UniqueCrlStack crls(CMS_get1_crls(cms));
    for (int i = 0; crls && i < sk_X509_CRL_num(crls.get()); ++i)
        coverage.collections += ossl::encoded(i2d_X509_CRL, sk_X509_CRL_value(crls.get(), i));
    if (signedData.empty() || signedData.back().tag != 0x31)
        return coverage;
    for (const Element& signerInfo : elementsOf(signedData.back().content)) {
        if (auto head = headOf(signerInfo))
            coverage.signerHeads.push_back(std::move(*head));
    }
    return coverage;
}

} // namespace selavia::signature::detail
