// selavia-make-pdf PASTA [--mb N]
// Writes into PASTA signed PDFs made with a test hierarchy: an honest
// signature with its revocation lists, a gov.br-shaped one, and the usual
// changes and forgeries after signing; with --mb, also grande.pdf, a
// document of about N MiB signed once. raiz-teste.pem is the root to trust
// (SSL_CERT_FILE) to see the signers as valid.

#include "tools/fixtures/FixtureBuilder.h"
#include "tools/fixtures/PdfFixtures.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace fx = selavia::fixtures;
namespace pdfx = selavia::fixtures::pdf;

namespace {

pdfx::SignSpec signature(const std::string& field = "Assinatura1")
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::SignSpec spec;
    spec.signer = {.cert = fx::issueEndEntity(icp.intermediate, "FULANO DE TAL:98765432100",
                                              {fx::SanEntry::email("fulano@example.com.br"),
                                               fx::icpPersonal("01021980", "12345678901")})};
    spec.chain = {icp.intermediate, icp.root};
    spec.subFilter = pdfx::SubFilter::CadesDetached;
    spec.field = field;
    spec.rect = {360, 60, 560, 110};
    return spec;
}

pdfx::Pdf withLists(const pdfx::Pdf& file)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::DssSpec dss;
    dss.crls = {fx::crlDer(fx::makeCrl({.issuer = &icp.intermediate}).get()),
                fx::crlDer(fx::makeCrl({.issuer = &icp.root}).get())};
    return pdfx::addDss(file, dss);
}

// A document of about `mebibytes` MiB: one large stream the pages do not draw.
pdfx::Pdf large(long mebibytes)
{
    pdfx::Pdf file = pdfx::makeDocument({.pages = 1});
    std::string data(static_cast<std::size_t>(mebibytes) << 20, '\0');
    std::mt19937_64 random(7);
    for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
        const std::uint64_t value = random();
        data.replace(i, 8, reinterpret_cast<const char*>(&value), 8);
    }
    pdfx::Object blob;
    blob.stream = std::move(data);
    return pdfx::appendUpdate(file, {.objects = {{file.size, std::move(blob)}}});
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "uso: selavia-make-pdf PASTA [--mb N]\n");
        return 64;
    }
    const std::string dir = argv[1];
    const auto write = [&](const std::string& name, const pdfx::Pdf& file) {
        fx::writeFile(dir + "/" + name, file.bytes);
    };
    fx::writeFile(dir + "/raiz-teste.pem", fx::icpBrasilHierarchy().root.pem());
    const pdfx::Pdf contract = pdfx::makeDocument(
        {.pages = 2, .image = true, .fields = {{.name = "Nome", .page = 0, .signature = false}}});
    const pdfx::Pdf signedOnce = withLists(pdfx::sign(contract, signature()));
    write("sem-assinatura.pdf", contract);
    write("assinado.pdf", signedOnce);
    pdfx::SignSpec second = signature("Assinatura2");
    second.rect = {360, 120, 560, 170};
    write("dois-signatarios.pdf", withLists(pdfx::sign(signedOnce, second)));
    write("formulario-preenchido.pdf", pdfx::fillTextField(signedOnce, "Nome", "Maria"));
    write("sobreposto.pdf",
          pdfx::addAnnotation(signedOnce, {.kind = pdfx::AnnotationKind::Square}));
    write("pagina-nova.pdf", pdfx::addPage(signedOnce));
    write("conteudo-trocado.pdf",
          pdfx::replacePageContent(signedOnce, 0, "Valor: R$ 9.000,00", true));
    pdfx::SignSpec forged = signature();
    forged.fault = pdfx::RangeFault::GapBeyondContents;
    write("intervalo-forjado.pdf", withLists(pdfx::sign(contract, forged)));
    write("carimbo-do-documento.pdf",
          pdfx::addDocumentTimeStamp(
              signedOnce, {.token = {.tsa = fx::makeTsa(fx::icpBrasilHierarchy().intermediate),
                                     .chain = {fx::icpBrasilHierarchy().intermediate}}}));
    const fx::GovBrChain& govBr = fx::govBrChain();
    write("govbr.pdf",
          pdfx::sign(contract, pdfx::govBrSpec(fx::govBrCitizen("MARIA DA SILVA", "12345678901"),
                                               {govBr.issuing, govBr.intermediate})));
    if (argc >= 4 && std::string(argv[2]) == "--mb")
        write("grande.pdf", pdfx::sign(large(std::atol(argv[3])), signature()));
    return 0;
}
