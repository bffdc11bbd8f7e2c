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
#include <vector>

namespace selavia::signature {

struct TimeStampToken {
    // The token verifies over this signature, by a TSA fit for it whose
    // chain reaches a trusted root at `genTime`: `problems` is empty.
    bool valid = false;
    QDateTime genTime;                 // UTC; invalid when unreadable
    QString tsaName;                   // the TSA certificate's simple name (as GetInfo 0)
    Certificate tsaCertificate;        // null when the token does not hold it
    std::vector<Certificate> tsaChain; // as judged at genTime, TSA first
    // Whether the chain's revocation was judged with the answers of the
    // validation phase; before it, only those the message and the cache hold.
    bool revocationChecked = false;
    QStringList problems; // Portuguese, one line each
    // The token's own problems: `problems` but those of the TSA's chain.
    QStringList tokenProblems;
};

// Verifies `token`, the DER of a time-stamp token's ContentInfo, as the
// time-stamp of a signature whose value is `signatureValue`: the TSA's
// signature over the token; its certificate's critical extendedKeyUsage
// timeStamping; its chain judged by `context.validation` at the token's time,
// revocation included, helped by the token's certificates (which join the
// context's helpers) and the message's; the message imprint; the token's ESS
// identifier of the TSA's certificate. Tokens whose certificate set holds
// attribute certificates are read like any other. Never throws.
TimeStampToken verifyTimeStampToken(QByteArrayView token, QByteArrayView signatureValue,
                                    const CadesContext& context);

namespace detail {
// Judges the TSA's chain of a verified `token` again, at the token's time,
// with what `context.validation` knows now (after the validation phase, all
// its revocation answers); the token's own checks stand.
void judgeTsaChain(TimeStampToken& token, const CadesContext& context);
} // namespace detail

} // namespace selavia::signature
