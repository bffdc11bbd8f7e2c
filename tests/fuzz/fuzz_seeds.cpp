// Writes the seed corpora of the fuzz targets, made by the fixture builder:
//   fuzz_seeds DIR   → DIR/verify, DIR/identity, DIR/command_line

#include "tools/fixtures/FixtureBuilder.h"
#include "tools/fixtures/PdfFixtures.h"
#include "tools/hostile/HostileInputs.h"

#include <cstdio>
#include <filesystem>
#include <openssl/x509v3.h>
#include <string>
#include <vector>

namespace fx = selavia::fixtures;
namespace pdfx = selavia::fixtures::pdf;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& folder, const std::string& name, const fx::Bytes& bytes)
{
    fs::create_directories(folder);
    fx::writeFile((folder / name).string(), bytes);
}

// The DER of the certificate's subject alternative name (the GeneralNames).
fx::Bytes sanOf(const fx::Cert& cert)
{
    const int index = X509_get_ext_by_NID(cert.x509.get(), NID_subject_alt_name, -1);
    if (index < 0)
        return {};
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(X509_get_ext(cert.x509.get(), index));
    return fx::Bytes(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                     static_cast<std::size_t>(ASN1_STRING_length(data)));
}

void writeVerifySeeds(const fs::path& folder)
{
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    const fx::Hierarchy foreign = fx::foreignHierarchy();
    const fx::Cert fulano = fx::issueEndEntity(
        icp.intermediate, "FULANO DE TAL:12345678901",
        {fx::SanEntry::email("fulano@example.com.br"), fx::icpPersonal("01021980", "12345678901")});
    const fx::Cert beltrano =
        fx::issueEndEntity(foreign.intermediate, "Beltrano", {fx::SanEntry::dns("example.org")});
    const fx::Cert edwards =
        fx::issueEndEntity(foreign.intermediate, "Ed", {}, 0, 0, fx::KeyType::Ed25519);

    fx::SignerSpec named{.cert = fulano};
    named.attributes = {fx::documentNameAttribute("contrato.pdf"),
                        fx::documentDescriptionAttribute("<ct>CARIMBO_LOCAL</ct>")};
    fx::MessageSpec one;
    one.content = "%PDF-1.4 semente";
    one.signers = {named};
    one.extraCertificates = {icp.intermediate, icp.root};

    const fx::Bytes der = fx::makeSignedMessage(one);
    write(folder, "der", der);
    write(folder, "ber", fx::encodeAs(der, fx::Encoding::BerIndefinite));
    write(folder, "pem-pkcs7", fx::encodeAs(der, fx::Encoding::PemPkcs7));
    write(folder, "pem-cms", fx::encodeAs(der, fx::Encoding::PemCms));
    write(folder, "base64", fx::encodeAs(der, fx::Encoding::Base64));
    write(folder, "base64-lines", fx::encodeAs(der, fx::Encoding::Base64Lines));
    write(folder, "tampered-content", fx::tamperContent(der, one.content));
    write(folder, "tampered-signature", fx::tamperSignature(der));
    write(folder, "truncated", fx::truncate(der, der.size() / 2));

    fx::MessageSpec several = one;
    fx::SignerSpec utf8Name{.cert = beltrano};
    utf8Name.attributes = {
        fx::documentNameAttribute("rela\xC3\xA7\xC3\xA3o.txt", fx::TextEncoding::Utf8String),
        fx::documentDescriptionAttribute("<ct>CARIMBO_ON</ct>", fx::TextEncoding::BmpString)};
    fx::SignerSpec bare{.cert = edwards};
    bare.signedAttributes = false;
    several.signers = {named, utf8Name, bare};
    several.extraCertificates = {icp.intermediate, icp.root, foreign.intermediate, foreign.root};
    several.crls = {fx::makeCrl(icp.intermediate, {fulano}), fx::makeCrl(foreign.root, {})};
    write(folder, "three-signers-crls", fx::makeSignedMessage(several));

    fx::MessageSpec detached = one;
    detached.detached = true;
    write(folder, "detached", fx::makeSignedMessage(detached));

    fx::MessageSpec missing = one;
    missing.signers[0].includeCertificate = false;
    write(folder, "signer-certificate-missing", fx::makeSignedMessage(missing));

    fx::MessageSpec noSigners = one;
    noSigners.signers.clear();
    write(folder, "no-signers", fx::makeSignedMessage(noSigners));

    // Small versions of the hostile files: lying lengths, nesting, loops,
    // keys that cannot be used.
    namespace hostile = selavia::hostile;
    write(folder, "outer-length", hostile::outerLengthPastEnd());
    write(folder, "content-length", hostile::contentLengthPastEnd());
    write(folder, "eight-byte-length", hostile::eightByteLength());
    write(folder, "inner-past-outer", hostile::innerPastOuter());
    write(folder, "inner-past-outer-base64", hostile::kInnerPastOuterBase64);
    write(folder, "nested-pieces", hostile::nestedContentPieces(8));
    write(folder, "nested-attribute", hostile::nestedInAttribute(40));
    write(folder, "signer-copies", hostile::withSignerCopies(der, 3));
    write(folder, "issuer-loop", hostile::issuerLoop(4));
    write(folder, "unknown-key-root", hostile::unknownKeyRoot());
    write(folder, "ed448-root", hostile::ed448Root());

    fx::MessageSpec hostileName = one;
    hostileName.signers[0].attributes = {fx::documentNameAttribute("a\nb\xE2\x80\xAE"
                                                                   "fdp.exe")};
    write(folder, "bidi-name", fx::makeSignedMessage(hostileName));
}

void writeIdentitySeeds(const fs::path& folder)
{
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    const fx::Cert personal = fx::issueEndEntity(
        icp.intermediate, "FULANO:1",
        {fx::SanEntry::email("f@example.com.br"), fx::icpPersonal("01021980", "12345678901")});
    const fx::Cert several = fx::issueEndEntity(
        icp.intermediate, "CICLANO:2",
        {fx::icpCei("123456789012"), fx::icpVoterId("1234"), fx::icpPersonal("31121999", "1")});
    const fx::Cert plain =
        fx::issueEndEntity(icp.intermediate, "SEM ICP", {fx::SanEntry::dns("example.org")});
    write(folder, "personal", sanOf(personal));
    write(folder, "several", sanOf(several));
    write(folder, "plain", sanOf(plain));
}

void writePdfSeeds(const fs::path& folder)
{
    const fx::Hierarchy icp = fx::icpBrasilHierarchy();
    pdfx::SignSpec spec;
    spec.signer = {.cert = fx::issueEndEntity(icp.intermediate, "FULANO:1",
                                              {fx::icpPersonal("01021980", "12345678901")})};
    spec.chain = {icp.intermediate, icp.root};
    spec.rect = {300, 40, 500, 90};
    const pdfx::Pdf base = pdfx::makeDocument(
        {.pages = 2, .image = true, .fields = {{.name = "Nome", .page = 0, .signature = false}}});
    const pdfx::Pdf once = pdfx::sign(base, spec);
    write(folder, "plain", base.bytes);
    write(folder, "signed", once.bytes);
    write(folder, "filled", pdfx::fillTextField(once, "Nome", "x").bytes);
    write(folder, "overlay",
          pdfx::addAnnotation(once, {.kind = pdfx::AnnotationKind::Square}).bytes);
    write(folder, "page-added", pdfx::addPage(once).bytes);
    write(folder, "freed", pdfx::freeObject(once, once.font).bytes);
    write(
        folder, "doc-timestamp",
        pdfx::addDocumentTimeStamp(once, {.token = {.tsa = fx::makeTsa(icp.intermediate)}}).bytes);
    pdfx::SignSpec certified = spec;
    certified.certify = 2;
    certified.encoding = fx::Encoding::BerIndefinite;
    write(folder, "certified", pdfx::sign(base, certified).bytes);
    pdfx::SignSpec forged = spec;
    forged.fault = pdfx::RangeFault::GapNotThisContents;
    write(folder, "forged-range", pdfx::sign(base, forged).bytes);
}

void writeCommandLineSeeds(const fs::path& folder)
{
    const std::vector<std::string> lines = {
        "-o|/tmp/contrato.slv",          "-o /tmp/contrato.slv", "-o", "|", "a|b|c",
        "-o|/tmp/com espa\xC3\xA7o.slv", "\"-o\" \"x\""};
    for (std::size_t n = 0; n < lines.size(); ++n)
        write(folder, "line" + std::to_string(n), lines[n]);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "uso: fuzz_seeds PASTA\n");
        return 64;
    }
    const fs::path root(argv[1]);
    writeVerifySeeds(root / "verify");
    writePdfSeeds(root / "pdf");
    writeIdentitySeeds(root / "identity");
    writeCommandLineSeeds(root / "command_line");
    return 0;
}
