// Writes what the revocation benchmark serves and verifies: a root, an
// authority, a 1 KB document signed under it whose signer names a CRL on
// the loopback, and that CRL with a given number of entries, the signer's
// among them: a listed serial is the costly answer of a warm check.
//
//   selavia-bench-fixtures FOLDER PORT ENTRIES

#include "tools/fixtures/FixtureBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fx = selavia::fixtures;

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "uso: %s PASTA PORTA ENTRADAS\n", argv[0]);
        return 64;
    }
    const std::string folder = argv[1];
    const std::string url = "http://127.0.0.1:" + std::string(argv[2]) + "/ac.crl";
    const int entries = std::atoi(argv[3]);
    const fx::Cert root = fx::makeCertificate(
        {.subject = {{"CN", "Raiz de Medida"}}, .keyType = fx::KeyType::Rsa2048, .ca = true});
    const fx::Cert authority = fx::makeCertificate({.subject = {{"CN", "AC de Medida"}},
                                                    .issuer = &root,
                                                    .keyType = fx::KeyType::Rsa2048,
                                                    .ca = true});
    const fx::Cert signer =
        fx::makeCertificate({.subject = {{"CN", "SIGNATARIO DE MEDIDA"}},
                             .issuer = &authority,
                             .extensions = {{"crlDistributionPoints", "URI:" + url}}});
    fx::MessageSpec spec;
    spec.content = std::string(1000, 'm');
    spec.signers = {{.cert = signer}};
    spec.extraCertificates = {authority};
    fx::writeFile(folder + "/raiz.pem", root.pem());
    fx::writeFile(folder + "/documento.slv", fx::makeSignedMessage(spec));
    fx::writeFile(folder + "/ac.crl", fx::crlDer(fx::makeCrl({.issuer = &authority,
                                                              .revoked = {signer},
                                                              .reason = 1,
                                                              .extraEntries = entries})
                                                     .get()));
    return 0;
}
