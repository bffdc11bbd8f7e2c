#include "BundledCertificates.h"

#include "OpenSslHandles.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <openssl/err.h>

namespace selavia::signature::bundled {
namespace {

constexpr TrustFramework kIcp = TrustFramework::IcpBrasil;

constexpr RootPin kPins[] = {
    {"raiz-brasileira-v2", "fb47d92a9909fd4fa9bec02737543e1f3514ced747407a8d9cfa397b0915067c",
     kIcp},
    {"raiz-brasileira-v5", "caa53fc6091c6951887c976e378f6ef89aa6377c55d97b6475422b71ed7e9b17",
     kIcp},
    {"raiz-brasileira-v6", "3bdb9b509352f1d3d71c2bf64d9a38a4e6cebda27809d77f7ac476cbde6e314a",
     kIcp},
    {"raiz-brasileira-v7", "5657e70580eb678983f3ed7dfce091d84cae6549389a47fccda8d0e4dc2cf576",
     kIcp},
    {"raiz-brasileira-v10", "6e0bff069a26994c15de2c4888cc54af84882e5495b7fbf66be9ccffec7489f6",
     kIcp},
    {"raiz-brasileira-v11", "1406710058180fa4081aab3f246f1702429c552a11fa3143b84c88cb3ab8e5e7",
     kIcp},
    {"raiz-brasileira-v12", "d8478e37ce19c690cf657381e68fe600e4e1a042536830f06847e03e554c4b01",
     kIcp},
    // The federal government's root for citizens' advanced signatures: an
    // anchor for gov.br alone, never for ICP-Brasil.
    {"raiz-govbr-v1", "163bd003bc0df2beab88174b6d5b450b6e1dc973a64b2dc2a33218544f49ef4e",
     TrustFramework::GovBr},
};

// The gov.br authorities below its root; the ICP-Brasil intermediates come
// in one file of ITI's and have no pins of their own.
constexpr RootPin kHelperPins[] = {
    {"ac-intermediaria-govbr-v1",
     "c96f8b6de022119717dfd2aeb6334e98036aaeb5c3818b4d84be1d267926d2e7"},
    {"ac-final-govbr-v1", "96bb5c41859fc51d88f305517be641d9ef4a5d601b1bb2352e7161e97ff8b852"},
};

ossl::UniqueX509 parse(const EmbeddedCertificate& embedded)
{
    const unsigned char* cursor = embedded.der;
    return ossl::UniqueX509(d2i_X509(nullptr, &cursor, static_cast<long>(embedded.size)));
}

const char* pinOf(std::span<const RootPin> pins, const char* name)
{
    for (const RootPin& pin : pins) {
        if (qstrcmp(pin.name, name) == 0)
            return pin.sha256;
    }
    return nullptr;
}

// Parsed intermediates, by their place in helpers().
std::mutex parsedMutex;
std::map<std::size_t, std::shared_ptr<X509>> parsed;

std::shared_ptr<X509> helperAt(std::size_t index)
{
    std::lock_guard lock(parsedMutex);
    if (auto found = parsed.find(index); found != parsed.end())
        return found->second;
    // A pinned intermediate whose bytes changed is left out, as a root is.
    ossl::UniqueX509 certificate;
    if (admitted(helpers()[index], helperPins()))
        certificate = parse(helpers()[index]);
    std::shared_ptr<X509> shared = certificate ? ossl::shared(std::move(certificate)) : nullptr;
    parsed.emplace(index, shared);
    return shared;
}

// The roots of one store whose pins matched, parsed when a chain first asks
// for their subject name. Parsing every root up front was most of the
// program's start-up.
struct PinnedRoots {
    std::vector<EmbeddedCertificate> trusted;
    std::mutex mutex;
    // By place in `trusted`. Held while the store lives: what a lookup
    // hands back borrows these.
    std::vector<ossl::UniqueX509> parsed;
};

PinnedRoots* pinnedRootsOf(X509_LOOKUP* lookup)
{
    return static_cast<PinnedRoots*>(X509_LOOKUP_get_method_data(lookup));
}

// Puts the trusted roots named `name` into the lookup's store, where the
// chain builder finds them from then on, and hands back the first.
int pinnedRootsBySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name,
                         X509_OBJECT* found)
{
    PinnedRoots* roots = pinnedRootsOf(lookup);
    int ok = 0;
    const unsigned long hash = X509_NAME_hash_ex(name, nullptr, nullptr, &ok);
    if (type != X509_LU_X509 || roots == nullptr || ok != 1)
        return 0;
    std::lock_guard lock(roots->mutex);
    roots->parsed.resize(roots->trusted.size());
    X509* first = nullptr;
    for (std::size_t i = 0; i < roots->trusted.size(); ++i) {
        if (roots->trusted[i].subjectHash != hash)
            continue;
        if (!roots->parsed[i]) {
            ossl::UniqueX509 certificate = parse(roots->trusted[i]);
            if (!certificate ||
                X509_STORE_add_cert(X509_LOOKUP_get_store(lookup), certificate.get()) != 1)
                continue;
            roots->parsed[i] = std::move(certificate);
        }
        X509* root = roots->parsed[i].get();
        if (first == nullptr && X509_NAME_cmp(X509_get_subject_name(root), name) == 0)
            first = root;
    }
    if (first == nullptr || X509_OBJECT_set1_X509(found, first) != 1)
        return 0;
    // The store's caller takes its own reference on return, as it does for
    // OpenSSL's lookups, which hand back a borrowed certificate: the one
    // just taken is given back.
    ossl::UniqueX509 given(first);
    return 1;
}

void freePinnedRoots(X509_LOOKUP* lookup)
{
    delete pinnedRootsOf(lookup);
}

// One method for the whole process, kept until it ends: stores made at any
// time may use it.
X509_LOOKUP_METHOD* pinnedRootsMethod()
{
    static X509_LOOKUP_METHOD* const method = [] {
        X509_LOOKUP_METHOD* made = X509_LOOKUP_meth_new("selavia pinned roots");
        if (made != nullptr) {
            X509_LOOKUP_meth_set_get_by_subject(made, pinnedRootsBySubject);
            X509_LOOKUP_meth_set_free(made, freePinnedRoots);
        }
        return made;
    }();
    return method;
}

} // namespace

std::span<const RootPin> rootPins()
{
    return kPins;
}

std::span<const RootPin> helperPins()
{
    return kHelperPins;
}

bool matchesPin(const EmbeddedCertificate& certificate, std::span<const RootPin> pins)
{
    const char* pin = pinOf(pins, certificate.name);
    const QByteArray fingerprint = QCryptographicHash::hash(
        QByteArrayView(certificate.der, static_cast<qsizetype>(certificate.size)),
        QCryptographicHash::Sha256);
    return pin != nullptr && fingerprint.toHex() == QByteArray(pin);
}

bool admitted(const EmbeddedCertificate& helper, std::span<const RootPin> pins)
{
    return pinOf(pins, helper.name) == nullptr || matchesPin(helper, pins);
}

QStringList addPinnedRoots(X509_STORE* store, std::span<const EmbeddedCertificate> candidates,
                           std::span<const RootPin> pins)
{
    const ossl::ErrorQueueGuard guard;
    auto roots = std::make_unique<PinnedRoots>();
    QStringList trusted;
    for (const EmbeddedCertificate& candidate : candidates) {
        if (!matchesPin(candidate, pins))
            continue;
        roots->trusted.push_back(candidate);
        trusted << QString::fromLatin1(candidate.name);
    }
    X509_LOOKUP_METHOD* method = pinnedRootsMethod();
    X509_LOOKUP* lookup = method != nullptr ? X509_STORE_add_lookup(store, method) : nullptr;
    if (lookup == nullptr)
        return {};
    // A second call on one store replaces what the first trusted.
    const std::unique_ptr<PinnedRoots> previous(pinnedRootsOf(lookup));
    if (X509_LOOKUP_set_method_data(lookup, roots.get()) != 1)
        return {};
    roots.release(); // the lookup owns it now, and frees it with the store
    return trusted;
}

std::vector<std::shared_ptr<X509>> issuersOf(X509* certificate)
{
    const ossl::ErrorQueueGuard guard;
    int ok = 0;
    const unsigned long hash =
        X509_NAME_hash_ex(X509_get_issuer_name(certificate), nullptr, nullptr, &ok);
    std::vector<std::shared_ptr<X509>> issuers;
    if (ok != 1) {
        return issuers;
    }
    const std::span<const EmbeddedCertificate> all = helpers();
    auto [first, last] =
        std::equal_range(all.begin(), all.end(), EmbeddedCertificate{nullptr, hash, nullptr, 0},
                         [](const EmbeddedCertificate& a, const EmbeddedCertificate& b) {
                             return a.subjectHash < b.subjectHash;
                         });
    // Every namesake: a re-keyed authority keeps its name, and which one
    // signed is for the chain building to tell.
    for (auto it = first; it != last; ++it) {
        std::shared_ptr<X509> candidate = helperAt(static_cast<std::size_t>(it - all.begin()));
        if (candidate && X509_NAME_cmp(X509_get_subject_name(candidate.get()),
                                       X509_get_issuer_name(certificate)) == 0)
            issuers.push_back(std::move(candidate));
    }
    return issuers;
}

} // namespace selavia::signature::bundled
