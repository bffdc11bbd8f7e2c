// selavia-make-sample OUTDIR
//
// Writes the sample for users and demonstrations:
//   contrato-exemplo.slv  a one-page PDF contract signed by an ICP-Brasil-like
//                         person certificate, with its chain in the message;
//   raiz-exemplo.pem      the sample root, to trust through SSL_CERT_FILE.
// Keys are made anew on every run, so the signature bytes differ each time;
// names, serials, dates and the document itself stay the same.

#include "tools/fixtures/FixtureBuilder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fx = selavia::fixtures;

namespace {

// UTF-8 → a PDF literal string in WinAnsiEncoding. Bytes past ASCII become
// octal escapes, so the page stream stays 7-bit; characters the encoding
// lacks become '?'.
std::string pdfString(const std::string& utf8)
{
    std::string out = "(";
    auto put = [&](unsigned code) {
        if (code == '(' || code == ')' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code < 0x80) {
            out += static_cast<char>(code);
        } else {
            out += '\\';
            for (int shift = 6; shift >= 0; shift -= 3) {
                out += static_cast<char>('0' + ((code >> shift) & 7));
            }
        }
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        unsigned cp = lead;
        std::size_t length = 1;
        if ((lead & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            cp = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            length = 2;
        } else if ((lead & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
            cp = ((lead & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
            length = 3;
        }
        i += length;
        if (cp == 0x2014) {
            put(0x97); // em dash
        } else if (cp == 0x2013) {
            put(0x96); // en dash
        } else if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            put(cp);
        } else {
            put('?');
        }
    }
    return out + ")";
}

std::string samplePdf()
{
    const std::vector<std::string> body = {
        "Contratante: Empresa Exemplo Ltda.",
        "Contratada: Fulana de Tal, CPF 123.456.789-01.",
        "",
        "Cl\u00e1usula 1 \u2014 A contratada presta servi\u00e7os de consultoria "
        "\u00e0 contratante.",
        "Cl\u00e1usula 2 \u2014 O pagamento \u00e9 feito em at\u00e9 30 dias ap\u00f3s "
        "a entrega.",
        "",
        "Este arquivo \u00e9 um exemplo gerado para demonstra\u00e7\u00e3o do programa",
        "e n\u00e3o tem valor jur\u00eddico.",
    };
    std::string page =
        "BT\n/F1 15 Tf\n72 770 Td\n" +
        pdfString("Contrato de presta\u00e7\u00e3o de servi\u00e7os \u2014 documento "
                  "de exemplo") +
        " Tj\n/F1 11 Tf\n16 TL\n0 -14 Td\n";
    for (const std::string& line : body) {
        page += "T* " + pdfString(line) + " Tj\n";
    }
    page += "ET\n";

    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
        "/Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Length " + std::to_string(page.size()) + " >>\nstream\n" + page + "endstream",
        "<< /Title " + pdfString("Contrato de exemplo") + " /CreationDate (D:20261206120000Z) >>",
    };
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R /Info 6 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "%s: %s\n", dir.c_str(), error.message().c_str());
        return 1;
    }

    // A hierarchy of its own, with fixed dates, named as a sample so that
    // nobody takes its root for the real one.
    fx::CertSpec rootSpec;
    rootSpec.subject = {
        {"C", "BR"}, {"O", "ICP-Brasil"}, {"CN", "Autoridade Certificadora Raiz de Exemplo v5"}};
    rootSpec.key = fx::makeKey(fx::KeyType::Rsa2048, true);
    rootSpec.ca = true;
    rootSpec.serial = 1;
    rootSpec.notBefore = fx::utc(2026, 1, 1);
    rootSpec.notAfter = fx::utc(2046, 1, 1);
    const fx::Cert root = fx::makeCertificate(rootSpec);

    fx::CertSpec intermediateSpec = rootSpec;
    intermediateSpec.subject = {{"C", "BR"}, {"O", "ICP-Brasil"}, {"CN", "AC Exemplo v5"}};
    intermediateSpec.key = fx::makeKey(fx::KeyType::Rsa2048, true);
    intermediateSpec.issuer = &root;
    intermediateSpec.serial = 2;
    const fx::Cert intermediate = fx::makeCertificate(intermediateSpec);

    fx::CertSpec leafSpec;
    leafSpec.subject = {{"C", "BR"},
                        {"O", "ICP-Brasil"},
                        {"OU", "Certificado de exemplo"},
                        {"CN", "FULANA DE TAL:12345678901"}};
    leafSpec.key = fx::makeKey(fx::KeyType::Rsa2048, true);
    leafSpec.issuer = &intermediate;
    leafSpec.serial = 0x5E1A0001;
    leafSpec.notBefore = fx::utc(2026, 1, 1);
    leafSpec.notAfter = fx::utc(2036, 1, 1);
    leafSpec.san = {fx::icpPersonal("15031985", "12345678901"),
                    fx::SanEntry::email("fulana.de.tal@example.com")};
    const fx::Cert leaf = fx::makeCertificate(leafSpec);

    fx::SignerSpec signer{.cert = leaf};
    signer.digest = fx::Digest::Sha256;
    signer.signingTime = fx::utc(2026, 12, 6, 12, 0, 0);
    signer.attributes = {fx::documentNameAttribute("contrato-exemplo.pdf"),
                         fx::documentDescriptionAttribute("<ct>CARIMBO_LOCAL</ct>")};
    fx::MessageSpec message;
    message.content = samplePdf();
    message.signers = {signer};
    message.extraCertificates = {intermediate, root};
    // Both authorities' lists of revoked certificates travel with the
    // message, so that the sample's revocation is known offline.
    for (const fx::Cert* issuer : {&intermediate, &root})
        message.crls.push_back(fx::makeCrl({.issuer = issuer,
                                            .lastUpdate = fx::utc(2026, 12, 6),
                                            .nextUpdate = fx::utc(2036, 1, 1)}));

    const std::string document = (dir / "contrato-exemplo.slv").string();
    const std::string rootFile = (dir / "raiz-exemplo.pem").string();
    fx::writeFile(document, fx::makeSignedMessage(message));
    fx::writeFile(rootFile, root.pem());
    std::printf("%s\n%s\n", document.c_str(), rootFile.c_str());
    return 0;
}
