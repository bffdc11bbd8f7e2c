#pragma once

// The folder where fetched CRLs, their indexes and issuer certificates are
// kept between runs. Entries appear whole (written beside and renamed into
// place), so several processes may fill it at once; the least recently
// used go first once the folder passes its cap.
//
// The user's own folder is private (0700) and only entries the user owns
// count. A folder that is not the user's, or that the user may not write
// (a cache shared read-only), is read but never written, and what it holds
// is trusted for nothing: whoever reads it verifies each list.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace selavia::revocation {

class Cache {
public:
    // An empty folder, or one that cannot be used, leaves the cache
    // unusable: nothing is read or written then.
    Cache(const QString& folder, qint64 capBytes);

    bool usable() const { return mode_ != Mode::None; }
    // Read only, and trusted for nothing.
    bool shared() const { return mode_ == Mode::Shared; }
    const QString& folder() const { return folder_; }

    // The entry's bytes when it is a regular file of at most `maxBytes`
    // (owned by the user, in the user's own folder); marks it as just used.
    std::optional<QByteArray> read(const QString& name, qint64 maxBytes) const;
    // What tells this version of the entry from any other: entries are
    // replaced whole (renamed into place), never rewritten, so its device,
    // inode, size and time of change. nullopt when read() would not read it.
    std::optional<QByteArray> identity(const QString& name) const;
    // Puts the entry in place whole, then keeps the folder under its cap.
    // Never in a shared folder.
    bool write(const QString& name, QByteArrayView bytes) const;
    void remove(const QString& name) const;

    // "crl-0123…": the stem of the entries kept for `url`.
    static QString stemFor(const QByteArray& kind, const QByteArray& url);

private:
    enum class Mode { None, Private, Shared };

    void evict() const;

    QString folder_;
    qint64 cap_;
    Mode mode_ = Mode::None;
    // Others could write the folder when it was found: what it held then
    // is not read, though it is ours again for writing.
    bool entriesSuspect_ = false;
};

} // namespace selavia::revocation
