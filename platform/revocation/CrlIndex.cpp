#include "CrlIndex.h"

#include "platform/signature/OpenSslHandles.h"
#include "platform/signature/TextDecoding.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <openssl/err.h>
#include <vector>

namespace selavia::revocation {
namespace {

// 2: the scope tells partitions and lists of some reasons.
const QByteArray kMagic("SLVCRLX2");
constexpr qsizetype kDigest = 32;
// magic, list digest, key digest, name hash, this/next update, scope, count
constexpr qsizetype kHeader = 8 + kDigest + kDigest + 8 + 8 + 8 + 8 + 8;

// FNV-1a over the sign and the magnitude: equal serials, equal prints. A
// collision only makes the list be read.
quint64 serialPrint(const ASN1_INTEGER* serial)
{
    quint64 hash = 1469598103934665603ULL;
    auto mix = [&](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    mix(ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER ? 1 : 0);
    const unsigned char* data = ASN1_STRING_get0_data(serial);
    for (int i = 0; i < ASN1_STRING_length(serial); ++i)
        mix(data[i]);
    return hash;
}

QByteArray keyDigest(X509* issuer)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_pubkey_digest(issuer, EVP_sha256(), digest.data(), &length) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<int>(length));
}

quint64 nameHash(const X509_NAME* name)
{
    int ok = 0;
    const unsigned long hash = X509_NAME_hash_ex(name, nullptr, nullptr, &ok);
    return ok == 1 ? hash : 0;
}

qint64 secondsOf(const ASN1_TIME* time)
{
    const QDateTime moment = signature::text::decodeTime(time);
    return moment.isValid() ? moment.toSecsSinceEpoch() : 0;
}

void putNumber(QByteArray& out, quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    out.append(bytes, 8);
}

quint64 numberAt(const char* data, qsizetype offset)
{
    quint64 value = 0;
    std::memcpy(&value, data + offset, sizeof value);
    return qFromLittleEndian(value);
}

QByteArray bodyDigest(QByteArrayView header, QByteArrayView serials)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    signature::ossl::UniqueEvpMdCtx context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), header.data(), static_cast<size_t>(header.size())) != 1 ||
        EVP_DigestUpdate(context.get(), serials.data(), static_cast<size_t>(serials.size())) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<int>(length));
}

} // namespace

QByteArray sha256(QByteArrayView bytes)
{
    return bodyDigest(bytes, {});
}

CrlIndex CrlIndex::build(X509_CRL* crl, QByteArrayView der, X509* issuer)
{
    const signature::ossl::ErrorQueueGuard guard;
    CrlIndex index;
    index.crlSha256_ = sha256(der);
    index.issuerKey_ = keyDigest(issuer);
    index.issuerName_ = nameHash(X509_CRL_get_issuer(crl));
    index.thisUpdate_ = secondsOf(X509_CRL_get0_lastUpdate(crl));
    index.nextUpdate_ = secondsOf(X509_CRL_get0_nextUpdate(crl));
    index.scope_ = signature::crlScope(crl);
    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl);
    std::vector<quint64> prints;
    prints.reserve(static_cast<std::size_t>(std::max(sk_X509_REVOKED_num(entries), 0)));
    for (int i = 0; i < sk_X509_REVOKED_num(entries); ++i)
        prints.push_back(
            serialPrint(X509_REVOKED_get0_serialNumber(sk_X509_REVOKED_value(entries, i))));
    std::sort(prints.begin(), prints.end());
    index.serials_.resize(static_cast<qsizetype>(prints.size() * 8));
    for (std::size_t i = 0; i < prints.size(); ++i)
        qToLittleEndian(prints[i], index.serials_.data() + i * 8);
    return index;
}

QByteArray CrlIndex::serialize() const
{
    QByteArray out = kMagic + crlSha256_ + issuerKey_;
    putNumber(out, issuerName_);
    putNumber(out, static_cast<quint64>(thisUpdate_));
    putNumber(out, static_cast<quint64>(nextUpdate_));
    putNumber(out, (scope_.onlyUsers ? 1u : 0u) | (scope_.onlyAuthorities ? 2u : 0u) |
                       (scope_.onlyAttributes ? 4u : 0u) | (scope_.someReasons ? 8u : 0u) |
                       (scope_.partitioned ? 16u : 0u));
    putNumber(out, static_cast<quint64>(serials_.size() / 8));
    return out + serials_ + bodyDigest(out, serials_);
}

std::optional<CrlIndex> CrlIndex::parse(QByteArray bytes)
{
    if (bytes.size() < kHeader + kDigest || !bytes.startsWith(kMagic))
        return std::nullopt;
    const char* data = bytes.constData();
    const quint64 count = numberAt(data, kHeader - 8);
    if (count > quint64(bytes.size()) / 8 ||
        bytes.size() != kHeader + static_cast<qsizetype>(count) * 8 + kDigest)
        return std::nullopt;
    const QByteArrayView header(bytes.constData(), kHeader);
    const QByteArrayView serials(bytes.constData() + kHeader, static_cast<qsizetype>(count) * 8);
    const QByteArray digest = bodyDigest(header, serials);
    if (digest.isEmpty() || digest != bytes.right(kDigest))
        return std::nullopt;
    CrlIndex index;
    index.crlSha256_ = bytes.mid(8, kDigest);
    index.issuerKey_ = bytes.mid(8 + kDigest, kDigest);
    qsizetype at = 8 + 2 * kDigest;
    index.issuerName_ = numberAt(data, at);
    index.thisUpdate_ = static_cast<qint64>(numberAt(data, at + 8));
    index.nextUpdate_ = static_cast<qint64>(numberAt(data, at + 16));
    const quint64 scope = numberAt(data, at + 24);
    index.scope_ = {(scope & 1) != 0, (scope & 2) != 0, (scope & 4) != 0, (scope & 8) != 0,
                    (scope & 16) != 0};
    index.serials_ = bytes.mid(kHeader, static_cast<qsizetype>(count) * 8);
    return index;
}

bool CrlIndex::appliesTo(X509* certificate, X509* issuer) const
{
    const signature::ossl::ErrorQueueGuard guard;
    const bool applies = !issuerKey_.isEmpty() && keyDigest(issuer) == issuerKey_ &&
                         nameHash(X509_get_issuer_name(certificate)) == issuerName_ &&
                         signature::issuerMaySignCrls(issuer) &&
                         signature::scopeCovers(scope_, certificate);
    return applies;
}

bool CrlIndex::mayList(X509* certificate) const
{
    const quint64 print = serialPrint(X509_get0_serialNumber(certificate));
    qsizetype low = 0;
    qsizetype high = serials_.size() / 8;
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        const quint64 value = numberAt(serials_.constData(), middle * 8);
        if (value == print)
            return true;
        if (value < print)
            low = middle + 1;
        else
            high = middle;
    }
    return false;
}

bool CrlIndex::current(const QDateTime& now) const
{
    return nextUpdate_ == 0 || now.toSecsSinceEpoch() < nextUpdate_;
}

QDateTime CrlIndex::thisUpdate() const
{
    return thisUpdate_ != 0 ? QDateTime::fromSecsSinceEpoch(thisUpdate_, Qt::UTC) : QDateTime();
}

QDateTime CrlIndex::nextUpdate() const
{
    return nextUpdate_ != 0 ? QDateTime::fromSecsSinceEpoch(nextUpdate_, Qt::UTC) : QDateTime();
}

bool CrlIndex::issuedBefore(const QDateTime& now) const
{
    return thisUpdate_ != 0 && thisUpdate_ < now.toSecsSinceEpoch();
}

} // namespace selavia::revocation
