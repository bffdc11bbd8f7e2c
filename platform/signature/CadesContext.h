#pragma once

#include "Certificate.h"
#include "TrustStore.h"

#include <QDateTime>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace selavia::signature {

// Judges a time-stamp authority's chain beyond what the token check does
// itself (signatures, trust, validity at the token's time): the place for
// revocation. Gets the chain, the TSA's certificate first, and the token's
// time; returns the problems found (Portuguese, one line each).
using TsaChainCheck =
    std::function<QStringList(const std::vector<Certificate>& chain, const QDateTime& at)>;

// What the CAdES checks of one message need besides the signer info.
struct CadesContext {
    TrustStore trustStore = TrustStore::empty();
    // Given to the certificates found (TSA, counter-signers) so they can judge themselves.
    std::shared_ptr<const ValidationContext> validation;
    // The message's certificates: counter-signers are looked up among them,
    // and they help build a TSA's chain.
    std::vector<Certificate> messageCertificates;
    // Unset: the TSA's revocation is not checked (TimeStampToken::revocationChecked).
    TsaChainCheck tsaChainCheck;
};

} // namespace selavia::signature
