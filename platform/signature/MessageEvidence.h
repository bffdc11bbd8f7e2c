#pragma once

// Revocation evidence a signed message carries for its own certificates:
// CRLs and OCSP answers in SignedData's `crls`, and the CAdES
// revocation-values and certificate-values of its signers. Gathered for the
// whole message, since any of it may serve any path the message builds.

#include "Revocation.h"

typedef struct CMS_ContentInfo_st CMS_ContentInfo;

namespace selavia::signature {

// What `cms` carries, within bounds; whatever does not parse is left out.
CarriedEvidence carriedEvidence(CMS_ContentInfo* cms);

} // namespace selavia::signature
