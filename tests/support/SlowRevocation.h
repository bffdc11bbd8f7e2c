#pragma once

// A signed file whose signer's list of revoked certificates is on a loopback
// server that takes a minute to answer: a load that waits until it is
// stopped.

#include "tests/support/Fixtures.h"
#include "tests/support/HttpTestServer.h"

namespace selavia::testing {

struct SlowRevocation {
    fx::Cert root; // trust it to reach the list
    fx::Bytes message;
    static constexpr const char* kList = "/lenta.crl";
};

inline SlowRevocation slowRevocation(HttpTestServer& server)
{
    SlowRevocation slow;
    slow.root = fx::makeCertificate({.subject = {{"CN", "Raiz Lenta"}}, .ca = true});
    const fx::Cert signer = fx::makeCertificate(
        {.subject = {{"CN", "SIGNATARIO LENTO"}},
         .issuer = &slow.root,
         .extensions = {{"crlDistributionPoints", "URI:" + server.url(SlowRevocation::kList)}}});
    server.route(
        SlowRevocation::kList,
        HttpReply{.body = fx::crlDer(fx::makeCrl(slow.root, {}).get()), .delayMs = 60'000});
    fx::MessageSpec spec = icpMessage(signer, "contrato.pdf");
    spec.extraCertificates = {slow.root};
    slow.message = fx::makeSignedMessage(spec);
    return slow;
}

} // namespace selavia::testing
