#pragma once

// Signed files written to hurt the reader: nesting, lying lengths, too many
// signers or certificates, an issuer loop, oversized names and values,
// names that disguise themselves, roots with keys that cannot be used.
// Built with the fixture builder, plus DER surgery where no honest signer
// would write such a thing. Shared by the hostile-file tool and the tests.

#include "tools/fixtures/FixtureBuilder.h"
#include "tools/fixtures/FixtureDetail.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace selavia::hostile {

using fixtures::Bytes;

// --- DER surgery -------------------------------------------------------------

// The fixture builder's: definite lengths only, aborting on anything else.
using fixtures::detail::childrenOf;
using fixtures::detail::Element;
using fixtures::detail::encodeElement;
using fixtures::detail::encodeLength;
using fixtures::detail::readElement;

// A DER message with its certificates field replaced by `certificates`, in
// this order (the signatures do not cover it).
Bytes withCertificates(const Bytes& message, const std::vector<Bytes>& certificates);

// A DER message whose signer infos are `count` copies of its first one:
// that many signers, each as valid as the first, without signing again.
Bytes withSignerCopies(const Bytes& message, int count);

// A DER message whose digestAlgorithms set holds `count` copies of its first
// entry (the signatures do not cover the set).
Bytes withDigestAlgorithms(const Bytes& message, int count);

// A message in BER (indefinite lengths, the content in pieces) with every
// piece wrapped in a constructed string of its own, and `emptyAfterEach`
// empty pieces after each: what some streaming encoders write, and worse.
Bytes withWrappedPieces(const Bytes& ber, int emptyAfterEach = 1);

// --- the inputs ----------------------------------------------------------------

// Nesting `levels` deep.
Bytes nestedIndefinite(int levels);    // the whole file, "30 80" never closed
Bytes nestedDefinite(int levels);      // the whole file, every SEQUENCE closed
Bytes nestedInAttribute(int levels);   // a valid message: a signed attribute nests
Bytes nestedContentPieces(int levels); // BER content as nested constructed pieces

// Lengths that point past the end of the file.
Bytes outerLengthPastEnd();   // ContentInfo claims 2 GiB
Bytes contentLengthPastEnd(); // the content OCTET STRING claims 2 GiB, the rest is honest
Bytes eightByteLength();      // a length of 2^64 - 1

// Found by the fuzzer: a ContentInfo of 36 bytes whose [0] claims 46, then
// bytes that, taken as the rest of the message, make a digest set of
// hundreds of entries. Refused as not a signed message, in memory, as text
// and from a file alike. As the Base64 text it was found as, and decoded.
extern const char kInnerPastOuterBase64[];
Bytes innerPastOuter();

// `count` signers, all with the same certificate.
Bytes manySigners(int count);

// A signer issued by A, where A is issued by B and B by A, with `copies`
// further certificates of the loop (alternately A and B, other serials).
Bytes issuerLoop(int copies);

// A signer whose subject alternative name holds a DNS name of `bytes` bytes
// before its ICP-Brasil entry.
Bytes hugeSubjectAltName(std::size_t bytes);

// A valid message of `contentBytes` bytes of content, then `trailing` bytes
// of nothing after the end of the message.
Bytes trailingBytes(std::size_t contentBytes, std::size_t trailing);
// A valid BER message whose content of `contentBytes` bytes is in pieces
// wrapped in constructed strings.
Bytes wrappedContent(std::size_t contentBytes);

// A signer with a document description of `bytes` bytes.
Bytes hugeAttribute(std::size_t bytes);

// A signer naming the document `utf8` (as UTF-16LE octets, as Windows
// signing tools write it), certificate named `commonName`.
Bytes documentNamed(const std::string& utf8, const std::string& commonName = "FULANO DE TAL");

// A chain whose root's key has an algorithm OpenSSL does not know; the
// root travels in the message. `root` receives its DER (to be trusted).
Bytes unknownKeyRoot(Bytes* root = nullptr);
// A chain under an Ed448 root. `root` receives its DER.
Bytes ed448Root(Bytes* root = nullptr);

// Every input above, at the sizes that matter, for the tool; `large` adds
// those of hundreds of MB.
struct Named {
    std::string name;
    std::string description; // Portuguese, one line
    Bytes bytes;
};
std::vector<Named> allInputs();
// Made one at a time when called: each holds hundreds of MB.
std::vector<std::function<Named()>> largeInputs();

} // namespace selavia::hostile
