#pragma once

// How one signer's signature is written: which algorithms it names, whether
// they agree, and whether its signed attributes keep the rules of their
// encoding. Facts for the judging above; the checks that make a signature
// fail to verify (algorithms that disagree) are made where it is verified.

#include <QString>
#include <QStringList>

typedef struct CMS_SignerInfo_st CMS_SignerInfo;
typedef struct evp_pkey_st EVP_PKEY;

namespace selavia::signature {

struct SignerAlgorithms {
    QString digest;    // the digest algorithm's short name, "SHA256"; the OID when unnamed
    QString signature; // the signature algorithm's, "RSA-SHA256", "RSASSA-PSS", "ecdsa-with-SHA256"
    QString keyType;   // "RSA", "EC", "ED25519", ...; empty when the key cannot be read
    int keyBits = 0;   // the signer's public key size
};

struct SignerEncoding {
    SignerAlgorithms algorithms;
    // Portuguese, one line each: what breaks the attributes' rules (an
    // attribute that may appear once appears twice).
    QStringList formatProblems;
    // The signature verified only over the signed attributes sorted as DER
    // requires, not over their order in the file.
    bool verifiedOverDerOrder = false;
};

namespace detail {

// The algorithms `info` names and its key's size.
SignerAlgorithms signerAlgorithms(CMS_SignerInfo* info);
// Whether the hash the signature algorithm names (if it names one) is the
// one `digestAlgorithm` names: a signature made over another hash than the
// one it claims must not pass for either.
bool algorithmsAgree(CMS_SignerInfo* info);
// Whether the signature algorithm is one this program can compute: a key's
// own algorithm, or a known signature algorithm over an available hash.
bool signatureAlgorithmKnown(CMS_SignerInfo* info);
// Attributes that may appear once and take one value (content-type,
// message-digest, signing-time) appearing more often.
QStringList attributeFormatProblems(CMS_SignerInfo* info);
enum class AttributeOrder { Stored, Der };
// Whether the file holds the signed attributes in DER order.
bool storedInDerOrder(CMS_SignerInfo* info);
// Verifies the signature of `info` over its signed attributes encoded as a
// SET in `order`, with `key`: for what OpenSSL's own check refuses before
// looking at the signature (attributes out of DER order, an attribute
// twice, a counter-signature without content-type).
bool verifySignedAttributes(CMS_SignerInfo* info, EVP_PKEY* key, AttributeOrder order);

} // namespace detail
} // namespace selavia::signature
