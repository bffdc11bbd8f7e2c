// Writes the files tools/bench/cades measures: a 1 KB document signed under
// a test root, the same message with a signature time-stamp, and the root.
//   selavia-cades-fixture FOLDER

#include "tools/fixtures/CadesFixtures.h"
#include "tools/fixtures/FixtureBuilder.h"

#include <cstdio>
#include <string>

namespace fx = selavia::fixtures;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s PASTA\n", argv[0]);
        return 64;
    }
    const std::string folder = argv[1];
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    const fx::Cert signer = fx::issueEndEntity(icp.intermediate, "FULANO DE TAL:12345678901",
                                               {fx::icpPersonal("01021980", "12345678901")}, 0, 0,
                                               fx::KeyType::Rsa2048);
    fx::MessageSpec spec;
    spec.content = std::string(1000, 'x');
    spec.signers = {{.cert = signer, .attributes = {fx::signingCertificateV2(signer)}}};
    spec.extraCertificates = {icp.intermediate, icp.root};
    const fx::Bytes plain = fx::makeSignedMessage(spec);
    const fx::Cert tsa = fx::makeTsa(icp.intermediate);
    const fx::Bytes stamped =
        fx::withTimeStamp(plain, 0, {.tsa = tsa, .chain = {icp.intermediate}});
    fx::writeFile(folder + "/plain.slv", plain);
    fx::writeFile(folder + "/stamped.slv", stamped);
    fx::writeFile(folder + "/root.pem", icp.root.pem());
    return 0;
}
