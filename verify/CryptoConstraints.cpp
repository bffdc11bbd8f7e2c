#include "verify/CryptoConstraints.h"

#include <QTimeZone>
#include <array>

namespace selavia::verify {
namespace {

QDateTime endOf(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(23, 59, 59), QTimeZone::utc());
}

struct DigestLimit {
    const char* name; // OpenSSL's short name, as SignerAlgorithms gives it
    const char* shown;
    int year, month, day;
};

// Sources: ICP-Brasil's cryptographic standards (DOC-ICP-01.01) moved its
// chain and its signatures from SHA-1 and 1024-bit RSA to SHA-2 and at
// least 2048 bits with the v2 root; the v1 chain, the last under the old
// algorithms, ended on 31/12/2014. MD5 and MD2 are broken (ETSI TS 119 312
// lists them for no use); they count as weak from before any ICP-Brasil
// signature.
constexpr std::array kDigestLimits = {
    DigestLimit{"SHA1", "SHA-1", 2014, 12, 31},
    DigestLimit{"MD5", "MD5", 2000, 12, 31},
    DigestLimit{"MD2", "MD2", 2000, 12, 31},
};

struct KeyLimit {
    int belowBits; // keys shorter than this
    int year, month, day;
};

// RSA (and DSA) keys: under 1024 bits never acceptable here; under 2048
// bits up to the end of the v1 chain (as above).
constexpr std::array kRsaLimits = {
    KeyLimit{1024, 2000, 12, 31},
    KeyLimit{2048, 2014, 12, 31},
};

bool namesDigest(const QString& algorithm, const char* digest)
{
    // "SHA1", "RSA-SHA1", "ecdsa-with-SHA1", "sha1WithRSAEncryption".
    const QString name = QString::fromLatin1(digest);
    return algorithm.compare(name, Qt::CaseInsensitive) == 0 ||
           algorithm.endsWith(QLatin1Char('-') + name, Qt::CaseInsensitive) ||
           algorithm.startsWith(name + QLatin1String("With"), Qt::CaseInsensitive);
}

} // namespace

std::vector<WeakAlgorithm> weakAlgorithms(const signature::SignerAlgorithms& algorithms)
{
    std::vector<WeakAlgorithm> weak;
    for (const DigestLimit& limit : kDigestLimits) {
        if (namesDigest(algorithms.digest, limit.name) ||
            namesDigest(algorithms.signature, limit.name))
            weak.push_back(
                {QString::fromLatin1(limit.shown), endOf(limit.year, limit.month, limit.day)});
    }
    const bool rsaLike = algorithms.keyType == QLatin1String("RSA") ||
                         algorithms.keyType == QLatin1String("RSA-PSS") ||
                         algorithms.keyType == QLatin1String("DSA");
    if (rsaLike && algorithms.keyBits > 0) {
        for (const KeyLimit& limit : kRsaLimits) {
            if (algorithms.keyBits >= limit.belowBits)
                continue;
            weak.push_back({QStringLiteral("chave %1 de %2 bits")
                                .arg(algorithms.keyType)
                                .arg(algorithms.keyBits),
                            endOf(limit.year, limit.month, limit.day)});
            break;
        }
    }
    return weak;
}

QString weakAlgorithmWarning(const WeakAlgorithm& weak)
{
    return QStringLiteral("algoritmo fraco: %1 (aceito em assinaturas até %2)")
        .arg(weak.name, weak.lastValid.toUTC().toString(QStringLiteral("dd/MM/yyyy")));
}

} // namespace selavia::verify
