#pragma once

// What the certificate dialog tells beside a certificate when it is a
// signer's own: what the signature says of it, in lines the core wrote.

#include <QString>
#include <QStringList>

namespace selavia::desktop {

struct SignerDetails {
    QString timeStamp;             // the signature time-stamp that counts; empty without one
    QString validAtTimestamp;      // whether the certificate was valid at the time-stamp's time
    QString policy;                // "Política de assinatura: …"; empty without one
    QStringList counterSignatures; // one line each: name, time, validity
    QStringList problems;          // of the signature, beyond the certificate's chain
};

} // namespace selavia::desktop
