#pragma once

// Counter-signatures (unsigned attribute 1.2.840.113549.1.9.6): each value
// is a SignerInfo whose signature covers the parent signer's signature
// value, made by someone who vouches for that signature (a notary, a
// second party).

#include "CadesContext.h"
#include "Certificate.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <vector>

namespace selavia::signature {

struct CounterSignature {
    Certificate certificate;         // null when the message does not hold it
    QString signerName;              // the certificate's simple name; empty without it
    QDateTime signingTime;           // UTC; invalid when it carries none
    bool signatureValid = false;     // verifies over the parent's signature value
    QStringList signedAttributeOids; // dotted, in their order
    QStringList problems;            // Portuguese, one line each
    // Its value could not be checked here: an algorithm this program cannot
    // compute, or no certificate to check it with. Not a forgery.
    bool uncheckable = false;
    // Counter-signatures of this counter-signature, in message order.
    std::vector<CounterSignature> counterSignatures;
};

// Verifies `signerInfo` (its DER) as a counter-signature of a signature whose
// value is `parentSignature`; its certificate comes from the message's
// certificates of `context`. Its own counter-signatures are verified too, up
// to a depth of a few. Never throws.
CounterSignature verifyCounterSignature(QByteArrayView signerInfo, QByteArrayView parentSignature,
                                        const CadesContext& context, int depth = 1);

} // namespace selavia::signature
