// Writes the files tools/bench/report measures: COUNT documents of 1 KB
// (many/NNNN.slv, each signed anew), one document with 10 signers
// (dez.slv), all under a test root (root.pem) with the authorities'
// revocation lists inside, so that they verify offline. Beside them, the
// documents tools/report-pages renders: three signers, an expired signer
// time-stamped in time, a tampered document, 24 signers, and a signer
// outside ICP-Brasil (its root in estrangeiro-raiz.pem). With BIG, that
// many documents of 10 MB besides (big/NNN.slv), which tools/bench/batch
// times against sha256sum.
//   selavia-report-fixture FOLDER [COUNT [BIG]]

#include "tools/fixtures/CadesFixtures.h"
#include "tools/fixtures/FixtureBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace fx = selavia::fixtures;

namespace {

fx::MessageSpec document(std::vector<fx::SignerSpec> signers, std::size_t size = 1000)
{
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    fx::MessageSpec spec;
    spec.content = std::string(size, 'x');
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

// The documents whose reports are looked at, page by page.
void writeReportPages(const std::string& folder)
{
    const std::time_t now = std::time(nullptr);
    fx::writeFile(folder + "/tres.slv",
                  fx::makeSignedMessage(document({signer(1), signer(2), signer(3)})));
    fx::SignerSpec expired = signer(1);
    expired.cert = fx::issueEndEntity(
        fx::icpBrasilHierarchy().intermediate, "MARIA DA SILVA:12345678901",
        {fx::icpPersonal("01021980", "12345678901")}, now - 400 * 86400, now - 86400);
    const fx::TokenSpec stamp{.tsa = fx::makeTsa(fx::icpBrasilHierarchy().intermediate,
                                                 fx::TsaUsage::TimeStamping, now - 600 * 86400,
                                                 now + 600 * 86400),
                              .genTime = now - 200 * 86400};
    fx::writeFile(folder + "/carimbo.slv",
                  fx::withTimeStamp(fx::makeSignedMessage(document({expired})), 0, stamp));
    const fx::MessageSpec good = document({signer(1)});
    fx::writeFile(folder + "/violado.slv",
                  fx::tamperContent(fx::makeSignedMessage(good), good.content));
    std::vector<fx::SignerSpec> many;
    for (int n = 1; n <= 24; ++n)
        many.push_back(signer(n));
    fx::writeFile(folder + "/vinte-e-quatro.slv", fx::makeSignedMessage(document(std::move(many))));
    const fx::Cert root = fx::makeCertificate(
        {.subject = {{"C", "PT"}, {"CN", "Raiz Estrangeira \u202Eacnerefer"}}, .ca = true});
    fx::MessageSpec foreign;
    foreign.content = std::string(1000, 'x');
    foreign.signers = {
        {.cert = fx::makeCertificate({.subject = {{"CN", "JOANA ESTRANGEIRA"}}, .issuer = &root})}};
    foreign.crls = {fx::makeCrl(root, {})};
    fx::writeFile(folder + "/estrangeiro.slv", fx::makeSignedMessage(foreign));
    fx::writeFile(folder + "/estrangeiro-raiz.pem", root.pem());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "uso: %s PASTA [QUANTOS [GRANDES]]\n", argv[0]);
        return 64;
    }
    const std::string folder = argv[1];
    const int count = argc >= 3 ? std::atoi(argv[2]) : 1000;
    const int big = argc == 4 ? std::atoi(argv[3]) : 0;
    for (int n = 0; n < big; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/big/%03d.slv", n);
        fx::writeFile(folder + name,
                      fx::makeSignedMessage(document({signer(n)}, std::size_t(10) << 20)));
    }
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
    writeReportPages(folder);
    return 0;
}
