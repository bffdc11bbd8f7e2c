#include "CrlIndex.h"

#include "platform/signature/OpenSslHandles.h"
#include "platform/signature/TextDecoding.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <openssl/err.h>
#include <openssl/hmac.h>
#include <vector>

namespace selavia::revocation {
namespace {

namespace ossl = signature::ossl;

const QByteArray kMagic("SLVCRLX2");
constexpr qsizetype kDigest = 32;
// magic, list digest, key digest, name hash, this/next update, scope, count
constexpr qsizetype kHeader = 8 + kDigest + kDigest + 8 + 8 + 8 + 8 + 8;
// A serial's fingerprint, then its revocation time and reason.
constexpr qsizetype kEntry = 16;
// The reason code sits above the seconds, plus one (0: none given).
constexpr int kReasonShift = 56;
constexpr quint64 kSecondsMask = (quint64(1) << kReasonShift) - 1;
// The entry that takes a certificate off hold does not list it.
constexpr int kRemoveFromCrl = 8;

// FNV-1a over the sign and the magnitude: equal serials, equal prints. The
// authority chooses its serials; a 64-bit collision between two of them is
// not a chance event, and an authority may revoke its own certificates.
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

QByteArray hmac(QByteArrayView key, QByteArrayView data)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> out{};
    unsigned int length = 0;
    if (key.isEmpty() || HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
                              reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<size_t>(data.size()), out.data(), &length) == nullptr)
        return {};
    return QByteArray(reinterpret_cast<const char*>(out.data()), static_cast<qsizetype>(length));
}

// HMAC-SHA256 of the index's body under a key of the entry's own, derived
// from the user's: a sealed index cannot be moved to another entry either.
QByteArray seal(QByteArrayView key, QByteArrayView name, QByteArrayView body)
{
    const QByteArray entryKey = hmac(key, name);
    return entryKey.isEmpty() ? QByteArray() : hmac(entryKey, body);
}

// Equal length and contents, in time independent of where they differ.
bool sameSeal(QByteArrayView a, QByteArrayView b)
{
    return !a.isEmpty() && a.size() == b.size() &&
           CRYPTO_memcmp(a.data(), b.data(), static_cast<size_t>(a.size())) == 0;
}

struct Entry {
    quint64 print = 0;
    quint64 stamp = 0; // seconds, with the reason above them
};

Entry entryOf(const X509_REVOKED* revoked)
{
    ossl::UniqueAsn1Enumerated code(static_cast<ASN1_ENUMERATED*>(
        X509_REVOKED_get_ext_d2i(revoked, NID_crl_reason, nullptr, nullptr)));
    const long reason = code ? ASN1_ENUMERATED_get(code.get()) : -1;
    const qint64 seconds = secondsOf(X509_REVOKED_get0_revocationDate(revoked));
    const quint64 reasonField = reason >= 0 && reason < 255 ? quint64(reason) + 1 : 0;
    return {serialPrint(X509_REVOKED_get0_serialNumber(revoked)),
            (quint64(std::max<qint64>(seconds, 0)) & kSecondsMask) | (reasonField << kReasonShift)};
}

bool isRemoval(const Entry& entry)
{
    return (entry.stamp >> kReasonShift) == kRemoveFromCrl + 1;
}

} // namespace

QByteArray sha256(QByteArrayView bytes)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), static_cast<size_t>(bytes.size()), digest.data(), &length,
                   EVP_sha256(), nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<int>(length));
}

CrlIndex CrlIndex::build(X509_CRL* crl, QByteArrayView der, X509* issuer, QByteArrayView url)
{
    const ossl::ErrorQueueGuard guard;
    CrlIndex index;
    index.crlSha256_ = sha256(der);
    index.issuerKey_ = keyDigest(issuer);
    index.issuerName_ = nameHash(X509_CRL_get_issuer(crl));
    index.thisUpdate_ = secondsOf(X509_CRL_get0_lastUpdate(crl));
    index.nextUpdate_ = secondsOf(X509_CRL_get0_nextUpdate(crl));
    index.scope_ = signature::crlScope(crl);
    // Kept partitioned only when it is another partition than its address.
    if (index.scope_.partitioned && signature::partitionNamesUri(crl, url))
        index.scope_.partitioned = false;
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(std::max(sk_X509_REVOKED_num(revoked), 0)));
    for (int i = 0; i < sk_X509_REVOKED_num(revoked); ++i) {
        const Entry entry = entryOf(sk_X509_REVOKED_value(revoked, i));
        if (!isRemoval(entry))
            entries.push_back(entry);
    }
    // A serial listed twice keeps its earliest revocation.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.print != b.print ? a.print < b.print
                                  : (a.stamp & kSecondsMask) < (b.stamp & kSecondsMask);
    });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const Entry& a, const Entry& b) { return a.print == b.print; }),
                  entries.end());
    index.count_ = static_cast<qsizetype>(entries.size());
    index.entries_.resize(index.count_ * kEntry);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        qToLittleEndian(entries[i].print, index.entries_.data() + i * kEntry);
        qToLittleEndian(entries[i].stamp, index.entries_.data() + i * kEntry + 8);
    }
    return index;
}

QByteArray CrlIndex::serialize(QByteArrayView key, QByteArrayView name) const
{
    QByteArray out = kMagic + crlSha256_ + issuerKey_;
    putNumber(out, issuerName_);
    putNumber(out, static_cast<quint64>(thisUpdate_));
    putNumber(out, static_cast<quint64>(nextUpdate_));
    putNumber(out, (scope_.onlyUsers ? 1u : 0u) | (scope_.onlyAuthorities ? 2u : 0u) |
                       (scope_.onlyAttributes ? 4u : 0u) | (scope_.someReasons ? 8u : 0u) |
                       (scope_.partitioned ? 16u : 0u));
    putNumber(out, static_cast<quint64>(count_));
    out.append(entries_.constData() + entryOffset_, count_ * kEntry);
    const QByteArray mac = seal(key, name, out);
    return mac.isEmpty() ? QByteArray() : out + mac;
}

std::optional<CrlIndex> CrlIndex::parse(QByteArray bytes, QByteArrayView key, QByteArrayView name)
{
    if (bytes.size() < kHeader + kDigest || !bytes.startsWith(kMagic))
        return std::nullopt;
    const char* data = bytes.constData();
    const quint64 count = numberAt(data, kHeader - 8);
    if (count > quint64(bytes.size()) / kEntry ||
        bytes.size() != kHeader + static_cast<qsizetype>(count) * kEntry + kDigest)
        return std::nullopt;
    const QByteArrayView body(data, bytes.size() - kDigest);
    if (!sameSeal(seal(key, name, body), QByteArrayView(bytes).last(kDigest)))
        return std::nullopt;
    CrlIndex index;
    index.crlSha256_ = bytes.mid(8, kDigest);
    index.issuerKey_ = bytes.mid(8 + kDigest, kDigest);
    const qsizetype at = 8 + 2 * kDigest;
    index.issuerName_ = numberAt(data, at);
    index.thisUpdate_ = static_cast<qint64>(numberAt(data, at + 8));
    index.nextUpdate_ = static_cast<qint64>(numberAt(data, at + 16));
    const quint64 scope = numberAt(data, at + 24);
    index.scope_ = {(scope & 1) != 0, (scope & 2) != 0, (scope & 4) != 0, (scope & 8) != 0,
                    (scope & 16) != 0};
    // The entries stay where they were read: a large list's are not copied.
    index.count_ = static_cast<qsizetype>(count);
    index.entryOffset_ = kHeader;
    index.entries_ = std::move(bytes);
    return index;
}

const char* CrlIndex::entryAt(qsizetype index) const
{
    return entries_.constData() + entryOffset_ + index * kEntry;
}

bool CrlIndex::appliesTo(X509* certificate, X509* issuer) const
{
    const ossl::ErrorQueueGuard guard;
    const bool applies = !issuerKey_.isEmpty() && keyDigest(issuer) == issuerKey_ &&
                         nameHash(X509_get_issuer_name(certificate)) == issuerName_ &&
                         signature::issuerMaySignCrls(issuer) &&
                         signature::scopeCovers(scope_, certificate);
    return applies;
}

signature::CrlAnswer CrlIndex::answerFor(X509* certificate, const QDateTime& now) const
{
    signature::CrlAnswer answer;
    answer.current = current(now);
    answer.someReasons = scope_.someReasons;
    answer.thisUpdate = thisUpdate();
    answer.nextUpdate = nextUpdate();
    const quint64 print = serialPrint(X509_get0_serialNumber(certificate));
    qsizetype low = 0;
    qsizetype high = count_;
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        const quint64 value = numberAt(entryAt(middle), 0);
        if (value < print) {
            low = middle + 1;
        } else if (value > print) {
            high = middle;
        } else {
            const quint64 stamp = numberAt(entryAt(middle), 8);
            const auto seconds = static_cast<qint64>(stamp & kSecondsMask);
            answer.listed = true;
            // 0: a date that could not be read.
            if (seconds != 0)
                answer.revokedAt = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
            answer.reason = static_cast<int>(stamp >> kReasonShift) - 1;
            break;
        }
    }
    return answer;
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
