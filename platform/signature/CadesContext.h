#pragma once

#include "Certificate.h"

#include <memory>
#include <vector>

namespace selavia::signature {

// What the CAdES checks of one message need besides the signer info.
struct CadesContext {
    // Judges the certificates found (a TSA's chain at its token's time,
    // revocation included) and is given to them so they can judge themselves.
    std::shared_ptr<const ValidationContext> validation;
    // The message's certificates: counter-signers are looked up among them,
    // and they help build a TSA's chain.
    std::vector<Certificate> messageCertificates;
    // The validation phase has run, so revocation answers are all in
    // (TimeStampToken::revocationChecked).
    bool afterValidationPhase = false;
};

} // namespace selavia::signature
