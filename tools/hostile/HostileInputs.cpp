#include "tools/hostile/HostileInputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <openssl/evp.h>

namespace selavia::hostile {
namespace fx = fixtures;

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "hostile: %s\n", what);
    std::abort();
}

std::size_t findOrAbort(const Bytes& haystack, const Bytes& needle, const char* what)
{
    const std::size_t at = haystack.find(needle);
    if (at == Bytes::npos)
        fail(what);
    return at;
}

Bytes replaceFirst(Bytes text, const Bytes& needle, const Bytes& replacement, const char* what)
{
    text.replace(findOrAbort(text, needle, what), needle.size(), replacement);
    return text;
}

const Bytes kContent = "conteudo de teste";

// A plain signer under the foreign (EC) hierarchy: quick to sign and check.
fx::Cert plainSigner(const std::string& commonName = "FULANO DE TAL")
{
    return fx::issueEndEntity(fx::foreignHierarchy().intermediate, commonName,
                              {fx::SanEntry::email("fulano@example.com")});
}

fx::MessageSpec messageBy(const fx::Cert& signer, std::vector<fx::AttributeSpec> attributes = {})
{
    const fx::Hierarchy& foreign = fx::foreignHierarchy();
    fx::SignerSpec spec{.cert = signer};
    spec.attributes = std::move(attributes);
    fx::MessageSpec message;
    message.content = kContent;
    message.signers = {spec};
    message.extraCertificates = {foreign.intermediate, foreign.root};
    return message;
}

Bytes plainMessage()
{
    return fx::makeSignedMessage(messageBy(plainSigner()));
}

} // namespace

// --- DER surgery -------------------------------------------------------------

using fixtures::detail::joinSignedData;
using fixtures::detail::SignedDataParts;
using fixtures::detail::splitSignedData;

Bytes withSignerCopies(const Bytes& message, int count)
{
    SignedDataParts parts = splitSignedData(message);
    const std::vector<Bytes> signerInfos = childrenOf(parts.fields.back());
    if (signerInfos.empty())
        fail("no signer info to copy");
    Bytes set;
    for (int i = 0; i < count; ++i)
        set += signerInfos.front();
    parts.fields.back() = encodeElement(0x31, set);
    return joinSignedData(parts);
}

Bytes withDigestAlgorithms(const Bytes& message, int count)
{
    SignedDataParts parts = splitSignedData(message);
    const std::vector<Bytes> algorithms = childrenOf(parts.fields[1]);
    if (algorithms.empty())
        fail("no digest algorithm to copy");
    Bytes set;
    for (int i = 0; i < count; ++i)
        set += algorithms.front();
    parts.fields[1] = encodeElement(0x31, set);
    return joinSignedData(parts);
}

Bytes withWrappedPieces(const Bytes& ber, int emptyAfterEach)
{
    const Bytes open("\x24\x80", 2);
    const Bytes end("\x00\x00", 2);
    std::size_t at = ber.find(open + "\x04");
    if (at == Bytes::npos)
        fail("no constructed content");
    at += open.size();
    Bytes out = ber.substr(0, at);
    while (ber.compare(at, 2, end) != 0) {
        const Element piece = readElement(ber, at);
        out += open + ber.substr(at, piece.header + piece.length) + end;
        for (int i = 0; i < emptyAfterEach; ++i)
            out += Bytes("\x04\x00", 2);
        at = piece.end();
    }
    return out + ber.substr(at);
}

Bytes withCertificates(const Bytes& message, const std::vector<Bytes>& certificates)
{
    SignedDataParts parts = splitSignedData(message);
    std::vector<Bytes>& fields = parts.fields;
    Bytes set;
    for (const Bytes& certificate : certificates)
        set += certificate;
    // version, digestAlgorithms, encapContentInfo, [0] certificates, ...
    if (static_cast<unsigned char>(fields[3][0]) == 0xA0)
        fields[3] = encodeElement(0xA0, set);
    else
        fields.insert(fields.begin() + 3, encodeElement(0xA0, set));
    return joinSignedData(parts);
}

// --- the inputs ----------------------------------------------------------------

Bytes nestedIndefinite(int levels)
{
    Bytes out;
    for (int i = 0; i < levels; ++i)
        out += "\x30\x80";
    return out;
}

Bytes nestedDefinite(int levels)
{
    // Lengths from the inside out, then the headers from the outside in.
    std::vector<Bytes> headers;
    std::size_t inner = 2; // NULL
    for (int i = 0; i < levels; ++i) {
        Bytes header(1, '\x30');
        header += encodeLength(inner);
        inner += header.size();
        headers.push_back(std::move(header));
    }
    Bytes out;
    out.reserve(inner);
    for (auto it = headers.rbegin(); it != headers.rend(); ++it)
        out += *it;
    return out + Bytes("\x05\x00", 2);
}

Bytes nestedInAttribute(int levels)
{
    return fx::makeSignedMessage(messageBy(
        plainSigner(), {fx::AttributeSpec{"1.3.6.1.4.1.99999.7", nestedDefinite(levels)}}));
}

Bytes nestedContentPieces(int levels)
{
    const Bytes ber = fx::encodeAs(plainMessage(), fx::Encoding::BerIndefinite);
    const Bytes pieces = "\x24\x80" + encodeElement(0x04, kContent) + Bytes("\0\0", 2);
    Bytes nested;
    for (int i = 0; i < levels; ++i)
        nested += "\x24\x80";
    nested += encodeElement(0x04, kContent);
    for (int i = 0; i < levels; ++i)
        nested += Bytes("\0\0", 2);
    return replaceFirst(ber, pieces, nested, "content pieces");
}

Bytes outerLengthPastEnd()
{
    const Bytes der = plainMessage();
    return "\x30\x84\x7F\xFF\xFF\xFF" + der.substr(readElement(der, 0).header);
}

Bytes contentLengthPastEnd()
{
    return replaceFirst(plainMessage(), encodeElement(0x04, kContent),
                        "\x04\x84\x7F\xFF\xFF\xFF" + kContent, "content");
}

Bytes eightByteLength()
{
    const Bytes der = plainMessage();
    return "\x30\x88" + Bytes(8, '\xFF') + der.substr(readElement(der, 0).header);
}

const char kInnerPastOuterBase64[] =
    "MCQGCSqGSIb3DQEHAqAuMIACAQExfw0wCwYJYIZIAWUDBAICoC4wgAIBATF/DTALBglghkgBZQMEAgEwgAYJKobQhvcN"
    "AAAAAAAAADsAAAAAAAAAAAAAAAAAACSAJIAkgPZvEW9j//////////////////8BMIAGCSqG0Ib3DQAAAAAAAAA7AAAA"
    "AAAAAAAAAAAAAAAkgCSAJID2bxFvY/////////////////////////8w";

Bytes innerPastOuter()
{
    const std::size_t length = std::strlen(kInnerPastOuterBase64);
    Bytes decoded(length / 4 * 3, '\0');
    const int got = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                    reinterpret_cast<const unsigned char*>(kInnerPastOuterBase64),
                                    static_cast<int>(length));
    if (got != static_cast<int>(decoded.size()))
        fail("inner past outer: Base64");
    return decoded;
}

Bytes manySigners(int count)
{
    const fx::Cert signer = plainSigner();
    fx::MessageSpec spec = messageBy(signer);
    spec.signers.assign(static_cast<std::size_t>(count), fx::SignerSpec{.cert = signer});
    return fx::makeSignedMessage(spec);
}

Bytes trailingBytes(std::size_t contentBytes, std::size_t trailing)
{
    fx::MessageSpec spec = messageBy(plainSigner());
    spec.content = Bytes(contentBytes, 't');
    return fx::makeSignedMessage(spec) + Bytes(trailing, '\0');
}

Bytes wrappedContent(std::size_t contentBytes)
{
    fx::MessageSpec spec = messageBy(plainSigner());
    spec.content = Bytes(contentBytes, 'w');
    spec.encoding = fx::Encoding::BerIndefinite;
    return withWrappedPieces(fx::makeSignedMessage(spec));
}

Bytes issuerLoop(int copies)
{
    const fx::Key keyA = fx::makeKey(fx::KeyType::EcP256, true);
    const fx::Key keyB = fx::makeKey(fx::KeyType::EcP256, true);
    fx::CertSpec specB{.subject = {{"CN", "La\xC3\xA7o B"}}, .key = keyB, .ca = true};
    // B as its own issuer first, only to give A an issuer with B's name and key.
    const fx::Cert firstB = fx::makeCertificate(specB);
    fx::CertSpec specA{
        .subject = {{"CN", "La\xC3\xA7o A"}}, .issuer = &firstB, .key = keyA, .ca = true};
    const fx::Cert a = fx::makeCertificate(specA);
    specB.issuer = &a;
    const fx::Cert b = fx::makeCertificate(specB);
    specA.issuer = &b;

    const fx::Cert signer = fx::issueEndEntity(a, "Signatario do laco");
    fx::MessageSpec spec;
    spec.content = kContent;
    spec.signers = {fx::SignerSpec{.cert = signer}};
    std::vector<Bytes> certificates = {signer.der(), a.der(), b.der()};
    for (int i = 0; i < copies; ++i) {
        fx::CertSpec copy = i % 2 == 0 ? specA : specB;
        copy.serial = 1000 + i;
        certificates.push_back(fx::makeCertificate(copy).der());
    }
    return withCertificates(fx::makeSignedMessage(spec), certificates);
}

Bytes hugeSubjectAltName(std::size_t bytes)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    const fx::Cert signer = fx::issueEndEntity(
        icp.intermediate, "FULANO DE TAL:98765432100",
        {fx::SanEntry::dns(std::string(bytes, 'a')), fx::icpPersonal("01021980", "12345678901")});
    fx::MessageSpec spec;
    spec.content = kContent;
    spec.signers = {fx::SignerSpec{.cert = signer}};
    spec.extraCertificates = {icp.intermediate, icp.root};
    return fx::makeSignedMessage(spec);
}

Bytes hugeAttribute(std::size_t bytes)
{
    return fx::makeSignedMessage(messageBy(
        plainSigner(),
        {fx::documentDescriptionAttribute(std::string(bytes, 'd'), fx::TextEncoding::Utf8Octets)}));
}

Bytes documentNamed(const std::string& utf8, const std::string& commonName)
{
    return fx::makeSignedMessage(
        messageBy(plainSigner(commonName), {fx::documentNameAttribute(utf8)}));
}

Bytes unknownKeyRoot(Bytes* root)
{
    const fx::Cert rootCert =
        fx::makeCertificate({.subject = {{"CN", "Raiz de chave desconhecida"}},
                             .key = fx::makeKey(fx::KeyType::EcP256, true),
                             .ca = true});
    const fx::Cert intermediate =
        fx::makeCertificate({.subject = {{"CN", "AC sob a raiz"}},
                             .issuer = &rootCert,
                             .key = fx::makeKey(fx::KeyType::EcP256, true),
                             .ca = true});
    const fx::Cert signer = fx::issueEndEntity(intermediate, "Signatario");
    fx::MessageSpec spec;
    spec.content = kContent;
    spec.signers = {fx::SignerSpec{.cert = signer}};
    // id-ecPublicKey becomes 1.3.6.1.4.1.99.1, of the same length: nothing
    // else in the certificate moves.
    const Bytes unknown = replaceFirst(rootCert.der(), "\x06\x07\x2A\x86\x48\xCE\x3D\x02\x01",
                                       "\x06\x07\x2B\x06\x01\x04\x01\x63\x01", "key algorithm");
    if (root != nullptr)
        *root = unknown;
    return withCertificates(fx::makeSignedMessage(spec),
                            {signer.der(), intermediate.der(), unknown});
}

Bytes ed448Root(Bytes* root)
{
    const fx::Cert rootCert = fx::makeCertificate({.subject = {{"CN", "Raiz Ed448"}},
                                                   .key = fx::makeKey(fx::KeyType::Ed448, true),
                                                   .ca = true});
    const fx::Cert intermediate =
        fx::makeCertificate({.subject = {{"CN", "AC sob Ed448"}},
                             .issuer = &rootCert,
                             .key = fx::makeKey(fx::KeyType::EcP256, true),
                             .ca = true});
    const fx::Cert signer = fx::issueEndEntity(intermediate, "Signatario Ed448");
    fx::MessageSpec spec;
    spec.content = kContent;
    spec.signers = {fx::SignerSpec{.cert = signer}};
    spec.extraCertificates = {intermediate, rootCert};
    if (root != nullptr)
        *root = rootCert.der();
    return fx::makeSignedMessage(spec);
}

std::vector<Named> allInputs()
{
    constexpr std::size_t kMiB = 1 << 20;
    const std::string bidi = "\xE2\x80\xAE"; // U+202E
    return {
        {"aninhamento-indefinido", "100 000 níveis de SEQUENCE indefinida, nunca fechados",
         nestedIndefinite(100000)},
        {"aninhamento-definido", "10 000 níveis de SEQUENCE, o arquivo inteiro",
         nestedDefinite(10000)},
        {"aninhamento-atributo", "mensagem válida; atributo assinado com 10 000 níveis",
         nestedInAttribute(10000)},
        {"aninhamento-conteudo", "conteúdo BER em 5 000 níveis de pedaços",
         nestedContentPieces(5000)},
        {"comprimento-externo", "ContentInfo declara 2 GiB", outerLengthPastEnd()},
        {"comprimento-conteudo", "o OCTET STRING do conteúdo declara 2 GiB",
         contentLengthPastEnd()},
        {"comprimento-8-bytes", "comprimento de 2^64-1", eightByteLength()},
        {"mil-signatarios", "1 000 signatários", manySigners(1000)},
        {"duzentos-signatarios", "200 signatários", manySigners(200)},
        {"laco-emissores-3000", "laço A→B→A com 3 000 certificados", issuerLoop(3000)},
        {"laco-emissores-1000", "laço A→B→A com 1 000 certificados", issuerLoop(1000)},
        {"san-1mb", "nome alternativo de 1 MiB antes da entrada ICP-Brasil",
         hugeSubjectAltName(kMiB)},
        {"atributo-20mb", "descrição do documento de 20 MiB", hugeAttribute(20 * kMiB)},
        {"atributo-900kb", "descrição do documento de 900 KiB", hugeAttribute(900 * 1024)},
        {"nome-controles", "nome com NUL, CR LF e U+202E",
         documentNamed(std::string("fatura\0\r\n", 9) + bidi + "fdp.exe")},
        {"nome-5000", "nome de 5 000 caracteres", documentNamed(std::string(5000, 'n') + ".pdf")},
        {"nome-300k", "nome de 300 000 caracteres",
         documentNamed(std::string(300000, 'n') + ".pdf")},
        {"titular-bidi", "titular com U+202E e quebra de linha no nome comum",
         documentNamed("contrato.pdf", "FULANO\n" + bidi + "LAT ED")},
        {"raiz-chave-desconhecida", "raiz com algoritmo de chave desconhecido", unknownKeyRoot()},
        {"raiz-ed448", "cadeia sob raiz Ed448", ed448Root()},
        {"fatura" + bidi + "fdp", "arquivo sem nome interno, com U+202E no próprio nome",
         plainMessage()},
        {"algoritmos-50000", "50 000 entradas em digestAlgorithms",
         withDigestAlgorithms(plainMessage(), 50000)},
        {"pedacos-vazios", "conteúdo BER com 5 000 000 de pedaços vazios",
         withWrappedPieces(fx::encodeAs(plainMessage(), fx::Encoding::BerIndefinite), 5000000)},
    };
}

std::vector<std::function<Named()>> largeInputs()
{
    constexpr std::size_t kMiB = 1 << 20;
    return {
        [] {
            return Named{"lixo-400mb", "mensagem válida seguida de 400 MiB de bytes",
                         trailingBytes(1024, 400 * kMiB)};
        },
        [] {
            return Named{"pedacos-aninhados-400mb", "conteúdo BER de 400 MiB em pedaços aninhados",
                         wrappedContent(400 * kMiB)};
        },
    };
}

} // namespace selavia::hostile
