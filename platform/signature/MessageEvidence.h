#pragma once

// Revocation evidence a signed message carries for its own certificates:
// CRLs and OCSP answers in SignedData's `crls`, and the CAdES
// revocation-values and certificate-values of its signers. Gathered for the
// whole message, since any of it may serve any path the message builds.

#include "Revocation.h"

#include <memory>
#include <vector>

typedef struct CMS_ContentInfo_st CMS_ContentInfo;
typedef struct ocsp_basic_response_st OCSP_BASICRESP;

namespace selavia::signature {

// What the signed message carries to answer with: CRLs and OCSP answers
// (its `crls` field and its signers' revocation-values), and the
// certificates of certificate-values.
struct CarriedEvidence {
    std::vector<std::shared_ptr<X509_CRL>> crls;
    std::vector<std::shared_ptr<OCSP_BASICRESP>> ocsp;
    std::vector<std::shared_ptr<X509>> certificates;
};

// Answers from the evidence the message carries, checked by the same rules
// as evidence fetched from outside: a verified revocation first, else the
// "good" answer issued latest.
class MessageRevocation : public RevocationProvider {
public:
    explicit MessageRevocation(CarriedEvidence evidence);
    ~MessageRevocation() override;
    std::optional<RevocationStatus> check(X509* certificate, X509* issuer) override;

private:
    CarriedEvidence evidence_;
};

// What `cms` carries, within bounds; whatever does not parse is left out.
CarriedEvidence carriedEvidence(CMS_ContentInfo* cms);

} // namespace selavia::signature
