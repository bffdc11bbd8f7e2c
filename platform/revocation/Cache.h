#pragma once

// The per-user folder where fetched CRLs, their indexes and issuer
// certificates are kept between runs. Entries appear whole (written beside
// and renamed into place), so several processes may fill it at once; the
// least recently used go first once the folder passes its cap.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace selavia::revocation {

class Cache {
public:
    // An empty folder, or one that is not ours, leaves the cache unusable:
    // nothing is read or written then.
    Cache(const QString& folder, qint64 capBytes);

    bool usable() const { return usable_; }
    const QString& folder() const { return folder_; }

    // The entry's bytes when it is a regular file of at most `maxBytes`;
    // marks it as just used.
    std::optional<QByteArray> read(const QString& name, qint64 maxBytes) const;
    // Puts the entry in place whole, then keeps the folder under its cap.
    bool write(const QString& name, QByteArrayView bytes) const;
    void remove(const QString& name) const;

    // "crl-0123…": the stem of the entries kept for `url`.
    static QString stemFor(const QByteArray& kind, const QByteArray& url);

private:
    void evict() const;

    QString folder_;
    qint64 cap_;
    bool usable_ = false;
};

} // namespace selavia::revocation
