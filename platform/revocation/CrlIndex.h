#pragma once

// A compact index of a verified CRL, kept beside it in the cache: who
// signed it, when it runs out, and a sorted fingerprint of each revoked
// serial. A warm check reads this instead of parsing the list again; only
// a certificate whose fingerprint is listed makes the list itself be read.

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
    // The index of `crl`, whose DER is `der`, already verified as `issuer`'s.
    static CrlIndex build(X509_CRL* crl, QByteArrayView der, X509* issuer);
    // nullopt when the bytes are not a whole, intact index.
    static std::optional<CrlIndex> parse(QByteArray bytes);
    QByteArray serialize() const;

    // Whether the list was verified with `issuer`'s key for certificates of
    // `certificate`'s issuer name and speaks of it.
    bool appliesTo(X509* certificate, X509* issuer) const;
    // Whether the list may list the certificate (false: it surely does not).
    bool mayList(X509* certificate) const;
    // Not past its nextUpdate at `now`, nor issued after it.
    bool current(const QDateTime& now) const;
    bool issuedBefore(const QDateTime& now) const;
    // The list's own dates (UTC; nextUpdate invalid when it gives none).
    QDateTime thisUpdate() const;
    QDateTime nextUpdate() const;
    // Whether only the list itself can tell whether it speaks of a
    // certificate: a partition, or some reasons only.
    bool needsList() const { return scope_.partitioned || scope_.someReasons; }
    const QByteArray& crlSha256() const { return crlSha256_; }

private:
    QByteArray crlSha256_;
    QByteArray issuerKey_; // SHA-256 of the signing key
    quint64 issuerName_ = 0;
    qint64 thisUpdate_ = 0;
    qint64 nextUpdate_ = 0; // 0: none
    signature::CrlScope scope_;
    QByteArray serials_; // sorted little-endian 64-bit fingerprints
};

} // namespace selavia::revocation
