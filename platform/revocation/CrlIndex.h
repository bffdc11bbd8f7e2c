#pragma once

// A compact index of a verified CRL, kept beside it in the cache: who
// signed it, when it runs out, and a sorted fingerprint of each revoked
// serial with its revocation date and reason. A warm check answers from
// this alone, listed or not, without reading the list again. The index is
// sealed with an HMAC under the user's key, bound to the entry's name: one
// that does not verify was not written by us after the list verified.

#include "platform/signature/Revocation.h"

#include <QByteArray>
#include <QDateTime>
#include <optional>

typedef struct x509_st X509;
typedef struct X509_crl_st X509_CRL;

namespace selavia::revocation {

// SHA-256 through libcrypto, which uses the processor's instructions for it.
QByteArray sha256(QByteArrayView bytes);

class CrlIndex {
public:
    // The index of `crl`, whose DER is `der`, already verified as `issuer`'s
    // and fetched from `url`. A partition that names `url` speaks for every
    // certificate found through it; one that does not, for none.
    static CrlIndex build(X509_CRL* crl, QByteArrayView der, X509* issuer, QByteArrayView url);
    // nullopt when the bytes are not a whole index sealed with `key` for
    // the entry named `name`.
    static std::optional<CrlIndex> parse(QByteArray bytes, QByteArrayView key, QByteArrayView name);
    QByteArray serialize(QByteArrayView key, QByteArrayView name) const;

    // Whether the list was verified with `issuer`'s key for certificates of
    // `certificate`'s issuer name and speaks of it.
    bool appliesTo(X509* certificate, X509* issuer) const;
    // What the list says of the certificate: listed (with its date and
    // reason) or not, and whether it is current at `now`.
    signature::CrlAnswer answerFor(X509* certificate, const QDateTime& now) const;
    // Not past its nextUpdate at `now`, nor issued after it.
    bool current(const QDateTime& now) const;
    bool issuedBefore(const QDateTime& now) const;
    // The list's own dates (UTC; nextUpdate invalid when it gives none).
    QDateTime thisUpdate() const;
    QDateTime nextUpdate() const;
    const QByteArray& crlSha256() const { return crlSha256_; }
    // Another partition than the one at the address it was fetched from.
    bool partitioned() const { return scope_.partitioned; }

private:
    const char* entryAt(qsizetype index) const;

    QByteArray crlSha256_;
    QByteArray issuerKey_; // SHA-256 of the signing key
    quint64 issuerName_ = 0;
    qint64 thisUpdate_ = 0;
    qint64 nextUpdate_ = 0; // 0: none
    signature::CrlScope scope_;
    // Sorted entries: a little-endian 64-bit serial fingerprint, then the
    // revocation time in seconds with the reason code above it.
    QByteArray entries_;
    qsizetype entryOffset_ = 0; // where the entries start in `entries_`
    qsizetype count_ = 0;
};

} // namespace selavia::revocation
