#include "TrustStore.h"

#include "BundledCertificates.h"
#include "IssuerChoice.h"
#include "OpenSslHandles.h"
#include "SignatureError.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <map>
#include <mutex>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <optional>
#include <sys/stat.h>

namespace selavia::signature {
namespace {

std::shared_ptr<X509_STORE> newStore()
{
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr)
        throw SignatureError::fromOpenSsl(code::kInternal);
    issuers::chooseBySignature(store);
    return std::shared_ptr<X509_STORE>(store, ossl::Deleter<X509_STORE_free>());
}

// "0a1b2c3d.0": a name OpenSSL's hashed folder lookup finds.
bool isHashedName(const char* name)
{
    int hex = 0;
    while (hex < 8 && std::isxdigit(static_cast<unsigned char>(name[hex])) != 0)
        ++hex;
    return hex == 8 && name[8] == '.' && std::isdigit(static_cast<unsigned char>(name[9])) != 0;
}

bool holdsHashedNames(const QByteArray& folder)
{
    DIR* directory = ::opendir(folder.constData());
    if (directory == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(directory)) {
        if ((found = isHashedName(entry->d_name)))
            break;
    }
    ::closedir(directory);
    return found;
}

bool sameFile(const char* a, const char* b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// The certificate file and folders the environment names when the store
// is asked for; they are looked at only when it is first used.
struct SystemLocations {
    std::optional<QByteArray> file; // SSL_CERT_FILE, when set
    QByteArray folders;             // SSL_CERT_DIR, else OpenSSL's default
};

SystemLocations systemLocations()
{
    SystemLocations locations;
    if (const char* file = std::getenv(X509_get_default_cert_file_env()))
        locations.file = QByteArray(file);
    const char* folders = std::getenv(X509_get_default_cert_dir_env());
    locations.folders = QByteArray(folders != nullptr ? folders : X509_get_default_cert_dir());
    return locations;
}

// Reading the whole bundle file costs most of a short verification; the
// hashed folder holds the same certificates and is read one at a time.
void addSystemCertificates(X509_STORE* store, const SystemLocations& locations,
                           TrustSources& sources)
{
    const QByteArray& folderList = locations.folders;
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    if (lookup != nullptr && !folderList.isEmpty() &&
        X509_LOOKUP_add_dir(lookup, folderList.constData(), X509_FILETYPE_PEM) == 1) {
        for (const QByteArray& folder : folderList.split(':'))
            sources.systemFolders << QFile::decodeName(folder);
    }
    const QList<QByteArray> each = folderList.split(':');
    const bool hashed = std::any_of(each.begin(), each.end(), holdsHashedNames);
    // Naming the default bundle changes nothing the hashed folder does not
    // already give; any other file is read whole.
    const std::optional<QByteArray>& file = locations.file;
    if (file && (!hashed || !sameFile(file->constData(), X509_get_default_cert_file()))) {
        if (!file->isEmpty() && X509_STORE_load_file(store, file->constData()) == 1)
            sources.systemFile = QFile::decodeName(*file);
        return;
    }
    if (!hashed && X509_STORE_load_file(store, X509_get_default_cert_file()) == 1)
        sources.systemFile = QFile::decodeName(X509_get_default_cert_file());
}

QByteArray sha256Hex(X509* certificate)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (certificate == nullptr ||
        X509_digest(certificate, EVP_sha256(), digest.data(), &length) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<int>(length))
        .toHex();
}

// Every certificate of a PEM file, as the store reads it.
void digestPemFile(const QByteArray& path, std::vector<QByteArray>& into)
{
    const ossl::ErrorQueueGuard guard;
    ossl::UniqueBio bio(BIO_new_file(path.constData(), "r"));
    if (!bio)
        return;
    while (ossl::UniqueX509 certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
        into.push_back(sha256Hex(certificate.get()));
}

// The certificates a hashed folder lookup may find: those under hashed names.
void digestHashedFolder(const QByteArray& folder, std::vector<QByteArray>& into)
{
    DIR* directory = ::opendir(folder.constData());
    if (directory == nullptr)
        return;
    while (const dirent* entry = ::readdir(directory)) {
        if (isHashedName(entry->d_name))
            digestPemFile(folder + '/' + entry->d_name, into);
    }
    ::closedir(directory);
}

void sortUnique(std::vector<QByteArray>& digests)
{
    std::sort(digests.begin(), digests.end());
    digests.erase(std::unique(digests.begin(), digests.end()), digests.end());
}

// The bundled intermediates that may help build paths, once per process.
const std::vector<QByteArray>& intermediateDigests()
{
    static const std::vector<QByteArray> digests = [] {
        std::vector<QByteArray> made;
        for (const bundled::EmbeddedCertificate& helper : bundled::helpers()) {
            if (!bundled::admitted(helper, bundled::helperPins()))
                continue;
            made.push_back(
                QCryptographicHash::hash(QByteArrayView(reinterpret_cast<const char*>(helper.der),
                                                        static_cast<qsizetype>(helper.size)),
                                         QCryptographicHash::Sha256)
                    .toHex());
        }
        sortUnique(made);
        return made;
    }();
    return digests;
}

} // namespace

struct TrustStore::State {
    // What fills the store the first time it is used; none for a store
    // that starts empty.
    std::function<void(X509_STORE*, TrustSources&)> fill;
    std::once_flag made;
    std::shared_ptr<X509_STORE> store;
    TrustSources sources;
    // The anchors tagged with a framework other than Other, by the
    // lowercase hexadecimal SHA-256 of their DER.
    std::mutex frameworksMutex;
    std::map<QByteArray, TrustFramework> frameworks;
    // The digests of the certificates added one by one, and of the system
    // store's, read once when first asked for.
    std::mutex digestsMutex;
    std::vector<QByteArray> addedDigests;
    std::optional<std::vector<QByteArray>> systemDigests;
    std::map<std::vector<QByteArray>, QString> identifiers;

    void tag(const QByteArray& sha256Hex, TrustFramework framework)
    {
        std::lock_guard lock(frameworksMutex);
        frameworks[sha256Hex] = framework;
    }

    // Several verifications may share the store from their threads: the
    // first one makes it, the others wait for it.
    void make()
    {
        std::call_once(made, [this] {
            auto fresh = newStore();
            if (fill) {
                const ossl::ErrorQueueGuard guard;
                fill(fresh.get(), sources);
            }
            store = std::move(fresh);
        });
    }
};

TrustStore TrustStore::systemDefault()
{
    auto state = std::make_shared<State>();
    state->fill = [locations = systemLocations(), owner = state.get()](X509_STORE* store,
                                                                       TrustSources& sources) {
        // The roots are checked against their pins now and parsed only when
        // a chain asks for one of their names.
        sources.bundledRoots =
            bundled::addPinnedRoots(store, bundled::roots(), bundled::rootPins());
        // A trusted root's bytes are its pin's: the pin names the anchor.
        for (const bundled::RootPin& pin : bundled::rootPins()) {
            if (sources.bundledRoots.contains(QLatin1String(pin.name))) {
                owner->tag(QByteArray(pin.sha256), pin.framework);
                sources.bundledAnchors.push_back(
                    {QString::fromLatin1(pin.name), QByteArray(pin.sha256)});
            }
        }
        // A system without a store is not an error: nothing more is trusted then.
        addSystemCertificates(store, locations, sources);
    };
    return TrustStore(std::move(state));
}

TrustStore TrustStore::empty()
{
    return TrustStore(std::make_shared<State>());
}

X509_STORE* TrustStore::handle() const
{
    state_->make();
    return state_->store.get();
}

TrustSources TrustStore::sources() const
{
    state_->make();
    return state_->sources;
}

void TrustStore::addTrusted(const QByteArray& derOrPem, TrustFramework framework)
{
    X509_STORE* store = handle();
    const ossl::ErrorQueueGuard guard;
    ossl::UniqueX509 certificate;
    if (derOrPem.trimmed().startsWith("-----BEGIN")) {
        ossl::UniqueBio bio(
            BIO_new_mem_buf(derOrPem.constData(), static_cast<int>(derOrPem.size())));
        certificate.reset(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    } else {
        const auto* cursor = reinterpret_cast<const unsigned char*>(derOrPem.constData());
        certificate.reset(d2i_X509(nullptr, &cursor, derOrPem.size()));
    }
    if (!certificate || X509_STORE_add_cert(store, certificate.get()) != 1)
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
    ++state_->sources.added;
    state_->tag(sha256Hex(certificate.get()), framework);
    std::lock_guard lock(state_->digestsMutex);
    state_->addedDigests.push_back(sha256Hex(certificate.get()));
    state_->identifiers.clear();
}

std::vector<QByteArray> TrustStore::anchorDigests() const
{
    const TrustSources known = sources();
    std::lock_guard lock(state_->digestsMutex);
    if (!state_->systemDigests) {
        std::vector<QByteArray> system;
        if (!known.systemFile.isEmpty())
            digestPemFile(QFile::encodeName(known.systemFile), system);
        for (const QString& folder : known.systemFolders)
            digestHashedFolder(QFile::encodeName(folder), system);
        state_->systemDigests = std::move(system);
    }
    std::vector<QByteArray> digests = *state_->systemDigests;
    digests.insert(digests.end(), state_->addedDigests.begin(), state_->addedDigests.end());
    for (const BundledAnchor& anchor : known.bundledAnchors)
        digests.push_back(anchor.sha256Hex);
    sortUnique(digests);
    return digests;
}

QString TrustStore::identifier(const std::vector<QByteArray>& policyListDigests) const
{
    {
        std::lock_guard lock(state_->digestsMutex);
        if (auto found = state_->identifiers.find(policyListDigests);
            found != state_->identifiers.end())
            return found->second;
    }
    std::vector<QByteArray> lines;
    for (const QByteArray& digest : anchorDigests())
        lines.push_back("anchor " + digest);
    for (const QByteArray& digest : intermediateDigests())
        lines.push_back("intermediate " + digest);
    for (const QByteArray& digest : policyListDigests)
        lines.push_back("policy-list " + digest);
    sortUnique(lines);
    QCryptographicHash sum(QCryptographicHash::Sha256);
    for (const QByteArray& line : lines)
        sum.addData(line + '\n');
    const QString made =
        QStringLiteral("sha256:") + QString::fromLatin1(sum.result().toHex().left(16));
    std::lock_guard lock(state_->digestsMutex);
    state_->identifiers.emplace(policyListDigests, made);
    return made;
}

TrustFramework TrustStore::frameworkOf(X509* anchor) const
{
    state_->make();
    const QByteArray key = sha256Hex(anchor);
    std::lock_guard lock(state_->frameworksMutex);
    const auto found = state_->frameworks.find(key);
    return found != state_->frameworks.end() ? found->second : TrustFramework::Other;
}

} // namespace selavia::signature
