#pragma once

// How much of a signed message the reader takes on. A ".slv" file comes from
// anyone: these bounds keep the work of checking it (signature by signature,
// chain by chain) in proportion to what real documents hold, far above it.
// Beyond them the message is refused with code::kLimitExceeded.

#include "OpenSslHandles.h"
#include "SignatureError.h"

#include <cstddef>
#include <openssl/cms.h>
#include <openssl/x509.h>

namespace selavia::signature {

namespace limits {
// Signers of one message. Each costs a signature check and two chain
// builds; real documents have a handful.
inline constexpr int kMaxSigners = 256;
// Certificates carried by the message, every one a candidate at each step
// of each chain.
inline constexpr int kMaxCertificates = 1024;
// CRLs carried by the message, each checked against every certificate of
// every chain.
inline constexpr int kMaxCrls = 256;
// Signed attributes of one signer.
inline constexpr int kMaxSignedAttributes = 64;
// The encoded size of one signed attribute value. Names, descriptions and
// times take a few hundred bytes.
inline constexpr long kMaxAttributeValueBytes = 1L << 20;
// Entries of the message's digestAlgorithms set. The content is hashed once
// per distinct algorithm whatever the set says; signers use one or two.
inline constexpr int kMaxDigestAlgorithms = 16;
// Pieces of a constructed content, empty ones and wrappers included.
// Streaming signers write one per kilobyte or more.
inline constexpr long long kMaxContentPieces = 1LL << 22;
// A message whose layout cannot be cut around its content (PEM, Base64) is
// read whole: up to this size.
inline constexpr long long kMaxWholeMessageBytes = 256LL << 20;
// The CAdES pieces of one signer. A token costs a signature and a chain
// check, a counter-signature a signature; real signers carry one or two.
inline constexpr int kMaxTimeStampTokens = 8;
inline constexpr int kMaxCounterSignatures = 16;
// Unsigned attributes of one signer that are looked at.
inline constexpr int kMaxUnsignedAttributes = 64;
// One token or counter-signature, certificates included; real ones take a
// few kilobytes.
inline constexpr long kMaxCadesValueBytes = 1L << 20;
// Certificates one token may carry, each a candidate for the TSA's chain.
inline constexpr int kMaxTokenCertificates = 64;
} // namespace limits

// Throws SignatureError(code::kLimitExceeded) when the parsed message goes
// past any of the limits; to be called right after parsing, before any
// signature or chain is checked.
inline void checkMessageLimits(CMS_ContentInfo* cms)
{
    auto exceeded = [] { return SignatureError::of(code::kLimitExceeded); };
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    const int signers = infos != nullptr ? sk_CMS_SignerInfo_num(infos) : 0;
    if (signers > limits::kMaxSigners)
        throw exceeded();

    const ossl::UniqueX509Stack certificates(CMS_get1_certs(cms));
    const int certificateCount = certificates ? sk_X509_num(certificates.get()) : 0;
    if (certificateCount > limits::kMaxCertificates)
        throw exceeded();

    const ossl::UniqueCrlStack crls(CMS_get1_crls(cms));
    const int crlCount = crls ? sk_X509_CRL_num(crls.get()) : 0;
    if (crlCount > limits::kMaxCrls)
        throw exceeded();

    for (int i = 0; i < signers; ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        const int attributes = CMS_signed_get_attr_count(info);
        if (attributes > limits::kMaxSignedAttributes)
            throw exceeded();
        for (int a = 0; a < attributes; ++a) {
            X509_ATTRIBUTE* attribute = CMS_signed_get_attr(info, a);
            for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
                // The encoded length, computed without encoding anything.
                const int length = i2d_ASN1_TYPE(X509_ATTRIBUTE_get0_type(attribute, v), nullptr);
                if (length > limits::kMaxAttributeValueBytes)
                    throw exceeded();
            }
        }
    }
}

} // namespace selavia::signature
