#pragma once

// Revocation evidence a signed message carries for its own certificates:
// CRLs and OCSP answers in SignedData's `crls`, and the CAdES
// revocation-values and certificate-values of its signers. Gathered for the
// whole message, since any of it may serve any path the message builds.

#include "Revocation.h"

#include <QByteArray>
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
    // `source` names where the evidence came from: the message, or the
    // document that carries the message (a PDF's DSS).
    explicit MessageRevocation(CarriedEvidence evidence,
                               RevocationSource source = RevocationSource::Message);
    ~MessageRevocation() override;
    std::optional<RevocationStatus> check(X509* certificate, X509* issuer) override;

private:
    CarriedEvidence evidence_;
    RevocationSource source_;
};

// What `cms` carries, within bounds; whatever does not parse is left out.
CarriedEvidence carriedEvidence(CMS_ContentInfo* cms);
// The same from DER items kept outside any message (a PDF's DSS): X.509
// certificates, CRLs, and OCSP responses (OCSPResponse, whose basic
// response is kept). Whatever does not parse is left out.
CarriedEvidence evidenceFromDer(const std::vector<QByteArray>& certificates,
                                const std::vector<QByteArray>& crls,
                                const std::vector<QByteArray>& ocspResponses);

} // namespace selavia::signature
