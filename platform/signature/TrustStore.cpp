#include "TrustStore.h"

#include "BundledCertificates.h"
#include "OpenSslHandles.h"
#include "SignatureError.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>

namespace selavia::signature {
namespace {

std::shared_ptr<X509_STORE> newStore()
{
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr)
        throw SignatureError::fromOpenSsl(code::kInternal);
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

// Reading the whole bundle file costs most of a short verification; the
// hashed folder holds the same certificates and is read one at a time.
void addSystemCertificates(X509_STORE* store, TrustSources& sources)
{
    const char* file = std::getenv(X509_get_default_cert_file_env());
    const char* folders = std::getenv(X509_get_default_cert_dir_env());
    const QByteArray folderList(folders != nullptr ? folders : X509_get_default_cert_dir());
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
    if (file != nullptr && (!hashed || !sameFile(file, X509_get_default_cert_file()))) {
        if (*file != '\0' && X509_STORE_load_file(store, file) == 1)
            sources.systemFile = QFile::decodeName(file);
        return;
    }
    if (!hashed && X509_STORE_load_file(store, X509_get_default_cert_file()) == 1)
        sources.systemFile = QFile::decodeName(X509_get_default_cert_file());
}

} // namespace

TrustStore TrustStore::systemDefault()
{
    const ossl::ErrorQueueGuard guard;
    auto store = newStore();
    TrustSources sources;
    sources.bundledRoots =
        bundled::addPinnedRoots(store.get(), bundled::roots(), bundled::rootPins());
    // A system without a store is not an error: nothing more is trusted then.
    addSystemCertificates(store.get(), sources);
    return TrustStore(std::move(store), std::move(sources));
}

TrustStore TrustStore::empty()
{
    return TrustStore(newStore(), {});
}

void TrustStore::addTrusted(const QByteArray& derOrPem)
{
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
    if (!certificate || X509_STORE_add_cert(store_.get(), certificate.get()) != 1)
        throw SignatureError::fromOpenSsl(code::kCertificateUnreadable);
    ++sources_->added;
}

} // namespace selavia::signature
