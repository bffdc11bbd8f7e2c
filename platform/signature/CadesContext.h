#pragma once

#include "ArchiveTimeStamp.h"
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
    // The content as the verifying pass summed it, for content and archive
    // time-stamps; and what else archive time-stamps cover (empty when no
    // signer carries one).
    ContentDigests contentDigests;
    ArchiveCoverage archiveCoverage;
};

} // namespace selavia::signature
