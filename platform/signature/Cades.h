#pragma once

// The CAdES pieces of one signer, as read and verified when the message is:
// signature time-stamps, the signing-certificate binding, the signature
// policy, counter-signatures, and which unsigned attributes it carries.

#include "CadesContext.h"
#include "CounterSignature.h"
#include "SignaturePolicy.h"
#include "SigningCertificate.h"
#include "TimeStampToken.h"

#include <QStringList>
#include <optional>
#include <vector>

typedef struct x509_st X509;
typedef struct CMS_SignerInfo_st CMS_SignerInfo;
typedef struct CMS_ContentInfo_st CMS_ContentInfo;

namespace selavia::signature {

struct CadesInfo {
    std::vector<TimeStampToken> timeStamps; // one per token value, in message order
    // Content time-stamps (signed): proofs that the content existed, not the
    // signature.
    std::vector<TimeStampToken> contentTimeStamps;
    // Archive time-stamps v2, in message order: each over the content, the
    // message's certificates and lists, the signature and the unsigned
    // attributes before it.
    std::vector<TimeStampToken> archiveTimeStamps;
    // A mismatch carries the problem "o certificado do signatário não é o
    // indicado na assinatura".
    SigningCertificateCheck signingCertificate;
    std::optional<SignaturePolicyIdentifier> policy;
    std::vector<CounterSignature> counterSignatures;
    QStringList unsignedAttributeOids; // dotted, in message order
    // What a signature policy's rules look at: attributes present with no
    // value at all (signed, unsigned), the signer's digest algorithm and key.
    QStringList emptySignedAttributeOids, emptyUnsignedAttributeOids;
    QString digestAlgorithmOid;
    QString keyAlgorithmOid; // rsaEncryption, id-ecPublicKey, Ed25519…
    int keyBits = 0;
    // What was left unchecked (past the limits); Portuguese, one line each.
    QStringList problems;
};

namespace detail {
// The context every signer of `cms` shares.
CadesContext cadesContextOf(CMS_ContentInfo* cms,
                            std::shared_ptr<const ValidationContext> validation,
                            ContentDigests contentDigests = {});
// Everything above for the signer `info` whose certificate is `signer`.
CadesInfo readCades(CMS_SignerInfo* info, X509* signer, const CadesContext& context);
} // namespace detail

} // namespace selavia::signature
