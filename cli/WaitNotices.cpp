#include "cli/WaitNotices.h"

#include "fileinfo/PathText.h"

namespace selavia::cli {
namespace {

// Back to the start of the line, and the line erased.
const QString kClearLine = QStringLiteral("\r\x1b[K");

} // namespace

WaitNotices::WaitNotices(Writer write, bool active, Clock clock, std::chrono::milliseconds after)
    : write_(std::move(write)), active_(active), clock_(std::move(clock)), after_(after)
{
}

WaitNotices::~WaitNotices()
{
    stopTicking();
}

std::chrono::steady_clock::time_point WaitNotices::now() const
{
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

QString fetchKindText(revocation::FetchKind kind)
{
    switch (kind) {
    case revocation::FetchKind::RevocationList:
        return QStringLiteral("lista de certificados revogados");
    case revocation::FetchKind::Ocsp:
        return QStringLiteral("consulta OCSP de revogação");
    case revocation::FetchKind::Issuer:
        return QStringLiteral("certificado emissor");
    case revocation::FetchKind::PolicyList:
        return QStringLiteral("lista de políticas de assinatura");
    }
    return {};
}

revocation::FetchWatch WaitNotices::watch()
{
    if (!active_)
        return {};
    return [this](const QByteArray& url, revocation::FetchKind kind) -> revocation::FetchEnd {
        const std::lock_guard lock(mutex_);
        const quint64 id = nextId_++;
        waits_.emplace(id, Wait{url, kind, now()});
        return [this, id](const QString&) {
            const std::lock_guard lock(mutex_);
            waits_.erase(id);
            if (lineShown_ && shownId_ == id)
                clearLocked();
        };
    };
}

void WaitNotices::tell()
{
    const std::lock_guard lock(mutex_);
    const auto moment = now();
    for (auto& [id, wait] : waits_) {
        if (wait.told || moment - wait.since < after_)
            continue;
        wait.told = true;
        // One line at a time: a newer wait takes the line of an older one.
        clearLocked();
        write_(QStringLiteral("Aguardando resposta de %1 (%2)…")
                   .arg(fileinfo::printableText(QString::fromLatin1(wait.url)),
                        fetchKindText(wait.kind)));
        lineShown_ = true;
        shownId_ = id;
    }
}

void WaitNotices::clearLocked()
{
    if (!lineShown_)
        return;
    write_(kClearLine);
    lineShown_ = false;
}

void WaitNotices::clearLine()
{
    const std::lock_guard lock(mutex_);
    clearLocked();
}

void WaitNotices::outside(const std::function<void()>& writing)
{
    const std::lock_guard lock(mutex_);
    clearLocked();
    writing();
}

void WaitNotices::startTicking()
{
    if (!active_ || ticker_.joinable())
        return;
    stopping_ = false;
    ticker_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (
            !stop_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping_; })) {
            lock.unlock();
            tell();
            lock.lock();
        }
    });
}

void WaitNotices::stopTicking()
{
    if (!ticker_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    ticker_.join();
    clearLine();
}

} // namespace selavia::cli
