#pragma once

// The ICP-Brasil and gov.br certificates the program brings with it. The
// roots become trust anchors only when their bytes match the published pins,
// each for its framework; the intermediate authorities only help build
// chains, like the certificates a message carries, and one that has a pin
// helps only when it matches. Both are parsed only when a chain asks for
// their name.

#include "TrustFramework.h"

#include <QStringList>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

typedef struct x509_st X509;
typedef struct x509_store_st X509_STORE;

namespace selavia::signature::bundled {

struct EmbeddedCertificate {
    const char* name;          // the file it came from, without extension
    unsigned long subjectHash; // OpenSSL's subject name hash
    const unsigned char* der;
    std::size_t size;
};

// Written at build time from platform/signature/anchors.
std::span<const EmbeddedCertificate> roots();
std::span<const EmbeddedCertificate> helpers(); // sorted by subjectHash

struct RootPin {
    const char* name;
    const char* sha256; // of the DER, lowercase hexadecimal
    TrustFramework framework = TrustFramework::Other;
};
// The published fingerprint of each bundled root, and its framework.
std::span<const RootPin> rootPins();
// The published fingerprint of the bundled intermediates that have one.
std::span<const RootPin> helperPins();

// Whether `certificate`'s DER has the fingerprint pinned for its name.
bool matchesPin(const EmbeddedCertificate& certificate, std::span<const RootPin> pins);
// Whether a bundled intermediate may help: it has no pin, or matches it.
bool admitted(const EmbeddedCertificate& helper, std::span<const RootPin> pins);

// Trusts in `store` every root of `candidates` whose DER matches the pin of
// its name; a root without a pin or with another fingerprint is left out.
// The pins are checked now; a trusted root is parsed, and put in the store,
// when a chain first looks for its subject (found by `subjectHash`). The
// candidates' DER must last as long as the store. Returns the names of the
// roots trusted.
QStringList addPinnedRoots(X509_STORE* store, std::span<const EmbeddedCertificate> candidates,
                           std::span<const RootPin> pins);

// The bundled intermediates that may have issued `certificate`: every one
// whose subject is its issuer name, each parsed once per process.
std::vector<std::shared_ptr<X509>> issuersOf(X509* certificate);

} // namespace selavia::signature::bundled
