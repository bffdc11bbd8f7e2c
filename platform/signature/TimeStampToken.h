#pragma once

// Signature time-stamp tokens (RFC 3161, unsigned attribute
// 1.2.840.113549.1.9.16.2.14): a time-stamp authority (TSA, "ACT") signed
// the hash of one signature value at a time it vouches for.

#include "CadesContext.h"
#include "Certificate.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

typedef struct evp_md_st EVP_MD;

namespace selavia::signature {

struct TimeStampToken {
    QDateTime genTime;          // UTC; invalid when unreadable
    QString tsaName;            // the TSA certificate's simple name (as GetInfo 0)
    Certificate tsaCertificate; // null when the token does not hold it
    // What is wrong with the token itself (its imprint, the TSA's signature
    // on it, the TSA's certificate as the token names and uses it),
    // Portuguese, one line each. The TSA's path is for whoever judges the
    // token, at the token's time.
    QStringList problems;
    // What could not be checked here (an imprint under a hash the content
    // was not summed with): no forgery, but no proof either.
    QStringList unchecked;
};

// What a token stamps: its hash under `md`, or nullopt when it cannot be
// computed here; and how a mismatch is told.
struct Imprinted {
    std::function<std::optional<QByteArray>(const EVP_MD* md)> hash;
    QString mismatch;
    // A mismatch only says the imprint could not be confirmed: what is
    // hashed is computed in more than one way by signers (archive stamps).
    bool mismatchUnconfirmed = false;
};

// Verifies `token`, the DER of a time-stamp token's ContentInfo, as the
// time-stamp of a signature whose value is `signatureValue`: the TSA's
// signature over the token; its certificate's critical extendedKeyUsage
// timeStamping; the message imprint; the token's ESS identifier of the
// TSA's certificate. The token's certificates join the context's helpers,
// so that the TSA's path can be built. Tokens whose certificate set holds
// attribute certificates are read like any other. Never throws.
TimeStampToken verifyTimeStampToken(QByteArrayView token, QByteArrayView signatureValue,
                                    const CadesContext& context);
// The same for a token over anything else: the content, or what an archive
// time-stamp covers.
TimeStampToken verifyTimeStampToken(QByteArrayView token, const Imprinted& imprinted,
                                    const CadesContext& context);

} // namespace selavia::signature
