#pragma once

#include "Certificate.h"

#include <memory>
#include <vector>

namespace selavia::signature {

// What the CAdES checks of one message need besides the signer info.
struct CadesContext {
    // Builds the paths of the certificates found, and is given to them so
    // that their paths can be asked for later.
    std::shared_ptr<const ValidationContext> validation;
    // The message's certificates: counter-signers are looked up among them,
    // and they help build a TSA's chain.
    std::vector<Certificate> messageCertificates;
};

} // namespace selavia::signature
