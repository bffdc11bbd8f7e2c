// Writes the files tools/bench/report measures: COUNT documents of 1 KB
// (many/NNNN.slv, each signed anew), one document with 10 signers
// (dez.slv), all under a test root (root.pem) with the authorities'
// revocation lists inside, so that they verify offline.
//   selavia-report-fixture FOLDER [COUNT]

#include "tools/fixtures/FixtureBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fx = selavia::fixtures;

namespace {

fx::MessageSpec document(std::vector<fx::SignerSpec> signers)
{
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    fx::MessageSpec spec;
    spec.content = std::string(1000, 'x');
    spec.signers = std::move(signers);
    spec.extraCertificates = {icp.intermediate, icp.root};
    spec.crls = {fx::makeCrl(icp.intermediate, {}), fx::makeCrl(icp.root, {})};
    return spec;
}

fx::SignerSpec signer(int n)
{
    const std::string name = "SIGNATARIO " + std::to_string(n) + ":12345678901";
    return {.cert = fx::issueEndEntity(fx::icpBrasilHierarchy().intermediate, name,
                                       {fx::SanEntry::email("assinante@example.com.br"),
                                        fx::icpPersonal("01021980", "12345678901")}),
            .attributes = {fx::documentNameAttribute("contrato.pdf")}};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "uso: %s PASTA [QUANTOS]\n", argv[0]);
        return 64;
    }
    const std::string folder = argv[1];
    const int count = argc == 3 ? std::atoi(argv[2]) : 1000;
    for (int n = 0; n < count; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/many/%04d.slv", n);
        fx::writeFile(folder + name, fx::makeSignedMessage(document({signer(n)})));
    }
    std::vector<fx::SignerSpec> ten;
    for (int n = 1; n <= 10; ++n)
        ten.push_back(signer(n));
    fx::writeFile(folder + "/dez.slv", fx::makeSignedMessage(document(std::move(ten))));
    fx::writeFile(folder + "/root.pem", fx::icpBrasilHierarchy().root.pem());
    return 0;
}
