// Revocation data and missing issuers fetched from a server of the test's
// own on 127.0.0.1, verified and cached.

#include "platform/revocation/Cache.h"
#include "platform/revocation/CacheKey.h"
#include "platform/signature/SignatureError.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/VerifyFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

using namespace selavia::testing;
using selavia::testing::HttpReply;
using selavia::testing::HttpRequestSeen;
using selavia::testing::HttpTestServer;
namespace rev = selavia::revocation;
namespace verify = selavia::verify;

fx::Bytes derOf(const std::shared_ptr<X509_CRL>& crl)
{
    return fx::crlDer(crl.get());
}

HttpReply redirectTo(const std::string& location, int status = 302)
{
    return HttpReply{.status = status, .headers = {{"Location", location}}};
}

// A root, an authority under it and a signer, whose distribution points,
// OCSP responder and caIssuers all point at the test's server.
struct OnlinePki {
    fx::Cert root;
    fx::Cert authority;
    fx::Cert signer;
};

struct PkiShape {
    bool signerCrl = true;  // the signer names /ac.crl
    bool signerOcsp = true; // the signer names /ocsp
    std::string crlHost{};  // another host for /ac.crl (through a proxy)
};

OnlinePki makePki(const HttpTestServer& server, const PkiShape& shape = {})
{
    OnlinePki pki;
    pki.root = fx::makeCertificate({.subject = {{"CN", "Raiz de Teste em Rede"}},
                                    .key = fx::makeKey(fx::KeyType::EcP256, true),
                                    .ca = true});
    pki.authority = fx::makeCertificate(
        {.subject = {{"CN", "AC de Teste em Rede"}},
         .issuer = &pki.root,
         .key = fx::makeKey(fx::KeyType::EcP256, true),
         .ca = true,
         .extensions = {{"crlDistributionPoints", "URI:" + server.url("/raiz.crl")},
                        {"authorityInfoAccess", "caIssuers;URI:" + server.url("/raiz.crt")}}});
    std::vector<std::pair<std::string, std::string>> extensions;
    const std::string crlUrl =
        shape.crlHost.empty() ? server.url("/ac.crl") : "http://" + shape.crlHost + "/ac.crl";
    if (shape.signerCrl)
        extensions.push_back({"crlDistributionPoints", "URI:" + crlUrl});
    std::string access = "caIssuers;URI:" + server.url("/ac.crt");
    if (shape.signerOcsp)
        access = "OCSP;URI:" + server.url("/ocsp") + "," + access;
    extensions.push_back({"authorityInfoAccess", access});
    pki.signer = fx::makeCertificate({.subject = {{"CN", "SIGNATARIO EM REDE"}},
                                      .issuer = &pki.authority,
                                      .extensions = extensions});
    return pki;
}

class RevocationFetchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cache_.isValid());
        settings_.cacheFolder = cache_.filePath("selavia");
        settings_.cacheKeyFile = cache_.filePath("dados/cache-key");
        settings_.requestTimeoutMs = 400;
        settings_.documentBudgetMs = 4000;
        pki_ = makePki(server_);
        serveGoodLists();
    }

    void serveGoodLists()
    {
        server_.route("/raiz.crl", HttpReply{.body = derOf(fx::makeCrl(pki_.root, {}))});
        server_.route("/ac.crl", HttpReply{.body = derOf(fx::makeCrl(pki_.authority, {}))});
    }

    fx::MessageSpec message(bool withAuthority = true) const
    {
        fx::MessageSpec spec;
        spec.signers = {{.cert = pki_.signer}};
        if (withAuthority)
            spec.extraCertificates = {pki_.authority};
        return spec;
    }

    verify::ValidationResult verified(const fx::MessageSpec& spec, bool offline = false,
                                      const verify::LoadProgress& progress = {})
    {
        rev::Settings settings = settings_;
        settings.offline = offline;
        const QString path = QDir(cache_.path()).filePath("documento.slv");
        fx::writeFile(path.toStdString(), fx::makeSignedMessage(spec));
        return verify::Verification(verify::LoadOptions(storeTrusting({&pki_.root}), settings))
            .readFile(path)
            .onProgress(progress)
            .run();
    }

    // The signer's status in a fresh load.
    verify::CertificateStatus statusOf(bool offline = false)
    {
        verify::ValidationResult document = verified(message(), offline);
        EXPECT_TRUE(document.verified());
        return document.signers.empty() ? verify::CertificateStatus{} : document.signers[0].status;
    }

    QString cacheEntry(const std::string& path, const char* suffix) const
    {
        return QDir(settings_.cacheFolder)
            .filePath(rev::Cache::stemFor("crl", QByteArray::fromStdString(server_.url(path))) +
                      QLatin1String(suffix));
    }

    // The authority's list revoking the signer (key compromise, on a known date).
    void serveRevokingList()
    {
        server_.route("/ac.crl", HttpReply{.body = derOf(fx::makeCrl({.issuer = &pki_.authority,
                                                                      .revoked = {pki_.signer},
                                                                      .revocationDate = kRevokedAt,
                                                                      .reason = 1,
                                                                      .extraEntries = 200}))});
    }

    // The cache as a run online leaves it, from an empty folder.
    void refillCache()
    {
        std::filesystem::remove_all(QFile::encodeName(settings_.cacheFolder).toStdString());
        statusOf();
    }

    static constexpr std::time_t kRevokedAt = 1'770'000'000; // 2026-02-02 02:40:00 UTC

    HttpTestServer server_;
    QTemporaryDir cache_;
    rev::Settings settings_;
    OnlinePki pki_;
};

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool chownTo(const QString& path, uid_t owner)
{
    return ::lchown(QFile::encodeName(path).constData(), owner, owner) == 0;
}

constexpr uid_t kSomeoneElse = 65534;

TEST_F(RevocationFetchTest, DownloadedListsDecideThenTheCacheAnswersWithoutTheServer)
{
    verify::CertificateStatus good = statusOf();
    EXPECT_TRUE(good.result) << joined(good.problems);
    ASSERT_EQ(good.chain.size(), 3u);
    EXPECT_EQ(good.revocation.state, sig::RevocationState::Good);
    EXPECT_EQ(good.revocation.source, sig::RevocationSource::Download);
    EXPECT_EQ(good.chain[1].revocation.source, sig::RevocationSource::Download);
    EXPECT_EQ(server_.count("/ac.crl"), 1);
    EXPECT_EQ(server_.count("/raiz.crl"), 1);
    EXPECT_EQ(server_.count("/ocsp"), 0) << "a list answered: no OCSP";

    // The folder is private, and the list sits there with its index.
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(settings_.cacheFolder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(QFile::exists(cacheEntry("/ac.crl", ".der")));
    EXPECT_TRUE(QFile::exists(cacheEntry("/ac.crl", ".idx")));

    server_.stop();
    verify::CertificateStatus cached = statusOf();
    EXPECT_EQ(cached.revocation.state, sig::RevocationState::Good);
    EXPECT_EQ(cached.revocation.source, sig::RevocationSource::Cache);
    EXPECT_EQ(cached.chain[1].revocation.source, sig::RevocationSource::Cache);
}

TEST_F(RevocationFetchTest, ARevokingListMakesTheSignerInvalidAndTheCacheRemembersIt)
{
    server_.route(
        "/ac.crl",
        HttpReply{.body = derOf(fx::makeCrl({.issuer = &pki_.authority,
                                             .revoked = {pki_.signer},
                                             .revocationDate = fx::utc(2026, 2, 3, 4, 5, 6),
                                             .reason = 1,
                                             .extraEntries = 2000}))});
    for (bool offline : {false, true}) {
        verify::ValidationResult document = verified(message(), offline);
        ASSERT_EQ(document.signers.size(), 1u);
        const verify::CertificateStatus& status = document.signers[0].status;
        EXPECT_FALSE(status.result);
        EXPECT_EQ(document.signers[0].certificateClass, verify::CertificateClass::NoIcpInvalid);
        EXPECT_TRUE(status.revocation.revoked());
        EXPECT_EQ(status.revocation.source,
                  offline ? sig::RevocationSource::Cache : sig::RevocationSource::Download);
        EXPECT_EQ(status.revocation.revokedAt,
                  QDateTime::fromSecsSinceEpoch(fx::utc(2026, 2, 3, 4, 5, 6), Qt::UTC));
        EXPECT_TRUE(status.problems.join('\n').contains(
            "revogado em 03/02/2026 01:05:06 -03:00 (motivo: comprometimento da chave)"))
            << joined(status.problems);
    }
    EXPECT_EQ(server_.count("/ac.crl"), 1);
}

TEST_F(RevocationFetchTest, BadAnswersLeaveTheStatusUnknownWithoutMakingTheSignerInvalid)
{
    const fx::Cert impostor =
        fx::makeCertificate({.subject = {{"CN", "AC de Teste em Rede"}}, .ca = true});
    const fx::Bytes big(2 << 20, '\x30');
    const std::vector<std::pair<const char*, HttpReply>> answers = {
        {"not found", HttpReply{.status = 404}},
        {"garbage", HttpReply{.body = "isto não é uma lista"}},
        {"oversized", HttpReply{.body = big}},
        {"wrongly signed", HttpReply{.body = derOf(fx::makeCrl({.issuer = &pki_.authority,
                                                                .signingKey = impostor.key,
                                                                .revoked = {pki_.signer}}))}},
        {"slow",
         HttpReply{.body = derOf(fx::makeCrl(pki_.authority, {pki_.signer})), .delayMs = 3000}},
        {"hang-up", HttpReply{.hangUp = true}},
    };
    settings_.maxCrlBytes = 1 << 20;
    for (const auto& [why, reply] : answers) {
        server_.route("/ac.crl", reply);
        verify::CertificateStatus status = statusOf();
        EXPECT_TRUE(status.result) << why << ": " << joined(status.problems);
        EXPECT_EQ(status.revocation.state, sig::RevocationState::Unknown) << why;
        EXPECT_EQ(status.chain[1].revocation.state, sig::RevocationState::Good) << why;
        // Nothing that did not verify is kept.
        EXPECT_FALSE(QFile::exists(cacheEntry("/ac.crl", ".idx"))) << why;
    }
    // Each refusal went on to OCSP, which this server does not answer.
    EXPECT_EQ(server_.count("/ocsp"), static_cast<int>(answers.size()));

    server_.stop();
    verify::CertificateStatus down = statusOf();
    EXPECT_EQ(down.revocation.state, sig::RevocationState::Unknown);
    EXPECT_EQ(down.chain[1].revocation.source, sig::RevocationSource::Cache);
}

TEST_F(RevocationFetchTest, RedirectsAreFollowedThreeTimesAtMost)
{
    const std::string list = derOf(fx::makeCrl(pki_.authority, {}));
    server_.route("/lista.crl", HttpReply{.body = list});
    server_.route("/ac.crl", redirectTo(server_.url("/r1")));
    server_.route("/r1", redirectTo("/lista.crl", 301)); // a path alone: the same server
    EXPECT_EQ(statusOf().revocation.source, sig::RevocationSource::Download);

    // The list alone would answer again, verified anew: both go.
    QFile::remove(cacheEntry("/ac.crl", ".idx"));
    QFile::remove(cacheEntry("/ac.crl", ".der"));
    server_.route("/r1", redirectTo(server_.url("/ac.crl")));
    verify::CertificateStatus loop = statusOf();
    EXPECT_EQ(loop.revocation.state, sig::RevocationState::Unknown);
    // Two requests the first time; now the first and three redirects, then
    // it gave up.
    EXPECT_EQ(server_.count("/ac.crl") + server_.count("/r1"), 2 + 4);
}

TEST_F(RevocationFetchTest, AStaleOrCorruptCacheEntryIsFetchedAgainAndReplaced)
{
    const std::time_t now = std::time(nullptr);
    server_.route("/ac.crl", HttpReply{.body = derOf(fx::makeCrl(pki_.authority, {}, now - 3 * kDay,
                                                                 now - kDay))});
    EXPECT_EQ(statusOf().revocation.state, sig::RevocationState::Unknown) << "stale, unlisted";
    serveGoodLists();
    verify::CertificateStatus refreshed = statusOf();
    EXPECT_EQ(refreshed.revocation.source, sig::RevocationSource::Download);
    EXPECT_EQ(server_.count("/ac.crl"), 2);

    for (const char* suffix : {".idx", ".der"}) {
        fx::writeFile(cacheEntry("/ac.crl", suffix).toStdString(), "estragado");
    }
    EXPECT_EQ(statusOf(/*offline=*/true).revocation.state, sig::RevocationState::Unknown);
    EXPECT_EQ(statusOf().revocation.source, sig::RevocationSource::Download);
    EXPECT_EQ(server_.count("/ac.crl"), 3);
    EXPECT_EQ(statusOf(/*offline=*/true).revocation.source, sig::RevocationSource::Cache);
}

// Whoever may write the cache folder may plant entries there; a planted
// index is ignored, and the list beside it counts once verified again.
TEST_F(RevocationFetchTest, PlantedOrForgedIndexesAreIgnoredAndTheListIsVerifiedAgain)
{
    using State = sig::RevocationState;
    // An index of the earlier list, which did not list the signer, sealed
    // with our key or with another's.
    auto earlierIndex = [&](const QString& keyFile) {
        serveGoodLists();
        rev::Settings own = settings_;
        settings_.cacheKeyFile = keyFile;
        refillCache();
        settings_ = own;
        const QByteArray index = contentsOf(cacheEntry("/ac.crl", ".idx"));
        EXPECT_FALSE(index.isEmpty());
        return index;
    };
    const QString index = cacheEntry("/ac.crl", ".idx");
    const QString elsewhere = cache_.filePath("fora.idx");
    struct Planting {
        const char* name;
        bool ours;                                    // sealed with our key, else another's
        std::function<bool(const QByteArray&)> plant; // false: cannot be made here
        State expected;
    };
    const std::vector<Planting> cases = {
        {"our own index, in our own folder", true,
         [&](const QByteArray& bytes) {
             fx::writeFile(index.toStdString(), bytes.toStdString());
             return true;
         },
         State::Good},
        {"an index sealed with another key", false,
         [&](const QByteArray& bytes) {
             fx::writeFile(index.toStdString(), bytes.toStdString());
             return true;
         },
         State::Revoked},
        {"a link to our index kept elsewhere", true,
         [&](const QByteArray& bytes) {
             fx::writeFile(elsewhere.toStdString(), bytes.toStdString());
             QFile::remove(index);
             return QFile::link(elsewhere, index);
         },
         State::Revoked},
        {"a FIFO", true,
         [&](const QByteArray&) {
             QFile::remove(index);
             return ::mkfifo(QFile::encodeName(index).constData(), 0600) == 0;
         },
         State::Revoked},
        {"an index of 1 GiB", true,
         [&](const QByteArray&) {
             QFile file(index);
             return file.open(QIODevice::WriteOnly) && file.resize(qint64(1) << 30);
         },
         State::Revoked},
        {"our index, owned by someone else", true,
         [&](const QByteArray& bytes) {
             fx::writeFile(index.toStdString(), bytes.toStdString());
             return ::geteuid() == 0 && chownTo(index, kSomeoneElse);
         },
         State::Revoked},
        // Others could have renamed anything in it: nothing there is read.
        {"our index, in a folder others may write", true,
         [&](const QByteArray& bytes) {
             fx::writeFile(index.toStdString(), bytes.toStdString());
             return ::chmod(QFile::encodeName(settings_.cacheFolder).constData(), 0770) == 0;
         },
         State::Unknown},
    };
    const QByteArray ourEarlier = earlierIndex(settings_.cacheKeyFile);
    const QByteArray theirEarlier = earlierIndex(cache_.filePath("outra-chave"));
    serveRevokingList();
    for (const Planting& planting : cases) {
        SCOPED_TRACE(planting.name);
        refillCache();
        if (!planting.plant(planting.ours ? ourEarlier : theirEarlier)) {
            std::cout << "[ SKIPPED  ] " << planting.name << ": cannot be made here\n";
            continue;
        }
        const sig::RevocationStatus cached = statusOf(/*offline=*/true).revocation;
        EXPECT_EQ(cached.state, planting.expected);
        if (planting.expected != State::Unknown) {
            EXPECT_EQ(cached.source, sig::RevocationSource::Cache);
        }
    }
}

TEST_F(RevocationFetchTest, AListedSerialIsAnsweredFromTheIndexAloneWithItsDateAndReason)
{
    serveRevokingList();
    refillCache();
    // The list itself is gone: the index sealed after it verified answers.
    ASSERT_TRUE(QFile::remove(cacheEntry("/ac.crl", ".der")));
    const sig::RevocationStatus cached = statusOf(/*offline=*/true).revocation;
    EXPECT_EQ(cached.state, sig::RevocationState::Revoked);
    EXPECT_EQ(cached.source, sig::RevocationSource::Cache);
    EXPECT_EQ(cached.revokedAt, QDateTime::fromSecsSinceEpoch(kRevokedAt, Qt::UTC));
    EXPECT_EQ(cached.reason, 1);

    // Without our key nothing sealed is believed, and there is no list left.
    settings_.cacheKeyFile = cache_.filePath("outra-chave");
    EXPECT_EQ(statusOf(/*offline=*/true).revocation.state, sig::RevocationState::Unknown);
}

// Names, sizes and times of change of a folder's entries.
QStringList snapshotOf(const QString& folder)
{
    QStringList lines;
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name)) {
        lines << QStringLiteral("%1 %2 %3")
                     .arg(entry.fileName())
                     .arg(entry.size())
                     .arg(entry.lastModified().toMSecsSinceEpoch());
    }
    return lines;
}

TEST_F(RevocationFetchTest, ASharedReadOnlyCacheIsReadWithoutWritesAndEachListVerified)
{
    serveGoodLists();
    refillCache();
    const QByteArray sealedGood = contentsOf(cacheEntry("/ac.crl", ".idx"));
    serveRevokingList();
    refillCache();
    // Another user's folder, or one we may not write: our key seals nothing
    // there, so even an index it did seal is not believed.
    fx::writeFile(cacheEntry("/ac.crl", ".idx").toStdString(), sealedGood.toStdString());
    const QString folder = settings_.cacheFolder;
    auto share = [&] {
        if (::geteuid() != 0)
            return ::chmod(QFile::encodeName(folder).constData(), 0555) == 0;
        bool changed = chownTo(folder, kSomeoneElse);
        for (const QString& name : QDir(folder).entryList(QDir::Files))
            changed = changed && chownTo(QDir(folder).filePath(name), kSomeoneElse);
        return changed;
    };
    ASSERT_TRUE(share());
    const QStringList before = snapshotOf(folder);

    const sig::RevocationStatus shared = statusOf(/*offline=*/true).revocation;
    EXPECT_EQ(shared.state, sig::RevocationState::Revoked);
    EXPECT_EQ(shared.source, sig::RevocationSource::Cache);
    EXPECT_EQ(shared.reason, 1);
    EXPECT_EQ(snapshotOf(folder), before) << "nothing written, nothing touched";

    // A list there that its issuer did not sign says nothing.
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    const fx::Cert stranger = fx::makeCertificate({.subject = {{"CN", "AC de Teste em Rede"}}});
    fx::writeFile(cacheEntry("/ac.crl", ".der").toStdString(),
                  derOf(fx::makeCrl({.issuer = &pki_.authority, .signingKey = stranger.key})));
    ASSERT_TRUE(share());
    EXPECT_EQ(statusOf(/*offline=*/true).revocation.state, sig::RevocationState::Unknown);
}

TEST_F(RevocationFetchTest, OfflineMakesNoRequestButReadsTheCache)
{
    EXPECT_EQ(statusOf(/*offline=*/true).revocation.state, sig::RevocationState::Unknown);
    verify::ValidationResult missing = verified(message(false), /*offline=*/true);
    EXPECT_EQ(missing.signers[0].status.chain.size(), 1u) << "the issuer is not fetched either";
    EXPECT_TRUE(missing.offline);
    EXPECT_EQ(server_.total(), 0);

    statusOf();
    const int asked = server_.total();
    EXPECT_EQ(statusOf(/*offline=*/true).revocation.source, sig::RevocationSource::Cache);
    EXPECT_EQ(server_.total(), asked);
}

TEST_F(RevocationFetchTest, OcspAnswersWhenNoListCanBeHad)
{
    pki_ = makePki(server_, {.signerCrl = false});
    serveGoodLists();
    const fx::Cert responder =
        fx::makeCertificate({.subject = {{"CN", "Respondedor OCSP"}},
                             .issuer = &pki_.authority,
                             .extensions = {{"extendedKeyUsage", "OCSPSigning"}}});
    const fx::Cert notResponder =
        fx::makeCertificate({.subject = {{"CN", "Sem OCSPSigning"}}, .issuer = &pki_.authority});
    const fx::Cert stranger = fx::makeCertificate({.subject = {{"CN", "AC de Teste em Rede"}}});
    const std::time_t now = std::time(nullptr);
    using State = sig::RevocationState;
    const fx::Cert* ac = &pki_.authority;
    const std::vector<std::tuple<const char*, fx::OcspSpec, State>> cases = {
        {"good", {.issuer = ac}, State::Good},
        {"revoked", {.issuer = ac, .status = fx::OcspStatus::Revoked, .reason = 4}, State::Revoked},
        {"delegated", {.issuer = ac, .responder = &responder}, State::Good},
        {"delegated without OCSPSigning",
         {.issuer = ac, .responder = &notResponder},
         State::Unknown},
        {"signed by a stranger", {.issuer = ac, .responder = &stranger}, State::Unknown},
        {"another nonce", {.issuer = ac, .nonce = fx::OcspNonce::Wrong}, State::Unknown},
        {"past its next update",
         {.issuer = ac, .thisUpdate = now - 3 * kDay, .nextUpdate = now - kDay},
         State::Unknown},
        {"unknown to the responder",
         {.issuer = ac, .status = fx::OcspStatus::Unknown},
         State::Unknown},
    };
    for (const auto& [why, spec, expected] : cases) {
        SCOPED_TRACE(why);
        server_.route("/ocsp", [spec](const HttpRequestSeen& request) {
            return HttpReply{.body = fx::makeOcspResponse(request.body, spec)};
        });
        verify::CertificateStatus status = statusOf();
        EXPECT_EQ(status.revocation.state, expected);
        EXPECT_EQ(status.revocation.source, expected == State::Unknown
                                                ? sig::RevocationSource::None
                                                : sig::RevocationSource::Ocsp);
        EXPECT_EQ(status.result, expected != State::Revoked);
    }
    const std::vector<HttpRequestSeen> asked = server_.requests();
    EXPECT_TRUE(std::any_of(asked.begin(), asked.end(),
                            [](const auto& request) { return request.method == "POST"; }));
}

TEST_F(RevocationFetchTest, AMissingIssuerIsFetchedOnceAndKept)
{
    server_.route("/ac.crt", HttpReply{.body = pki_.authority.der()});
    verify::ValidationResult document = verified(message(/*withAuthority=*/false));
    ASSERT_EQ(document.signers.size(), 1u);
    EXPECT_EQ(document.signers[0].status.chain.size(), 3u);
    EXPECT_TRUE(document.signers[0].status.result) << joined(document.signers[0].status.problems);
    EXPECT_EQ(server_.count("/ac.crt"), 1);

    // From the cache, without the network; and a bundle of certificates works too.
    verify::ValidationResult offline = verified(message(false), /*offline=*/true);
    EXPECT_EQ(offline.signers[0].status.chain.size(), 3u);
    EXPECT_EQ(server_.count("/ac.crt"), 1);

    pki_ = makePki(server_);
    serveGoodLists();
    server_.route("/ac.crt", HttpReply{.body = fx::certsOnlyPkcs7({pki_.root, pki_.authority})});
    EXPECT_EQ(verified(message(false)).signers[0].status.chain.size(), 3u);
}

TEST_F(RevocationFetchTest, ACancelledLoadAbortsTheRequestsInFlight)
{
    server_.route("/ac.crl",
                  HttpReply{.body = derOf(fx::makeCrl(pki_.authority, {})), .delayMs = 60'000});
    settings_.requestTimeoutMs = 60'000;
    settings_.documentBudgetMs = 60'000;
    std::atomic<int> calls = 0;
    verify::ValidationResult document =
        verified(message(), false, [&](verify::LoadPhase phase, qint64, qint64) {
            // Once the slow request is out, the user closes the window.
            return phase != verify::LoadPhase::Revocation || server_.count("/ac.crl") == 0 ||
                   ++calls < 2;
        });
    ASSERT_FALSE(document.verified());
    EXPECT_EQ(document.error->codeText, sig::signedDecimalText(sig::code::kCancelled));
}

TEST_F(RevocationFetchTest, TheProxyOfTheEnvironmentCarriesRequestsForOtherHosts)
{
    selavia::testing::ScopedEnvironment environment;
    environment.set("http_proxy", QByteArray::fromStdString(server_.url(""))).set("no_proxy", "");
    pki_ = makePki(server_, {.crlHost = "lcr.exemplo.invalid"});
    serveGoodLists();
    verify::CertificateStatus status = statusOf();
    EXPECT_EQ(status.revocation.source, sig::RevocationSource::Download);
    const std::vector<HttpRequestSeen> asked = server_.requests();
    EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [](const auto& request) {
        return request.target == "http://lcr.exemplo.invalid/ac.crl";
    }));
}

TEST(RevocationCacheTest, TheLeastRecentlyUsedEntriesGoFirst)
{
    QTemporaryDir folder;
    const QByteArray entry(1000, 'x');
    rev::Cache cache(folder.filePath("c"), 2500);
    ASSERT_TRUE(cache.usable());
    ASSERT_TRUE(cache.write("crl-a.der", entry));
    ASSERT_TRUE(cache.write("crl-a.idx", QByteArray(10, 'i')));
    ASSERT_TRUE(cache.write("crl-b.der", entry));
    // a is used again: b is now the oldest.
    struct timespec older[2] = {{1, 0}, {1, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(folder.filePath("c/crl-b.der")).constData(), older, 0);
    EXPECT_TRUE(cache.read("crl-a.der", 4096));
    ASSERT_TRUE(cache.write("crl-c.der", entry));
    EXPECT_TRUE(QFile::exists(folder.filePath("c/crl-a.der")));
    EXPECT_TRUE(QFile::exists(folder.filePath("c/crl-a.idx")));
    EXPECT_FALSE(QFile::exists(folder.filePath("c/crl-b.der")));
    EXPECT_TRUE(QFile::exists(folder.filePath("c/crl-c.der")));

    // A folder that others may read is made private; a link is never followed.
    QDir(folder.path()).mkdir("aberta");
    ::chmod(QFile::encodeName(folder.filePath("aberta")).constData(), 0755);
    EXPECT_TRUE(rev::Cache(folder.filePath("aberta"), 1 << 20).usable());
    struct stat info {};
    ::stat(QFile::encodeName(folder.filePath("aberta")).constData(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    QFile::link(folder.filePath("c/crl-a.der"), folder.filePath("c/crl-l.der"));
    EXPECT_FALSE(cache.read("crl-l.der", 4096));

    // A FIFO planted as an entry is no entry, and reading it does not wait
    // for a writer that never comes (not even offline).
    const QByteArray fifo = QFile::encodeName(folder.filePath("c/crl-f.der"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return cache.read("crl-f.der", 4096); });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the blocked read go before failing, so the test ends.
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        ADD_FAILURE() << "reading a FIFO entry blocked";
    }
    EXPECT_FALSE(read.get());
}

} // namespace

namespace {

TEST(RevocationSettingsTest, TheEnvironmentChoosesOfflineAndTheCacheFolder)
{
    selavia::testing::ScopedEnvironment environment;
    environment.set("SELAVIA_OFFLINE", "1")
        .set("SELAVIA_CACHE_DIR", "/tmp/propria")
        .set("XDG_CACHE_HOME", "/tmp/xdg")
        .set("HOME", "/tmp/casa");
    rev::Settings settings = rev::Settings::fromEnvironment();
    EXPECT_TRUE(settings.offline);
    EXPECT_EQ(settings.cacheFolder, "/tmp/propria");

    environment.set("SELAVIA_OFFLINE", "0").set("SELAVIA_CACHE_DIR", std::nullopt);
    settings = rev::Settings::fromEnvironment();
    EXPECT_FALSE(settings.offline);
    EXPECT_EQ(settings.cacheFolder, "/tmp/xdg/selavia-reader");

    environment.set("XDG_CACHE_HOME", std::nullopt);
    EXPECT_EQ(rev::Settings::fromEnvironment().cacheFolder, "/tmp/casa/.cache/selavia-reader");

    // The key that seals the cache lies outside it, where the user's data goes.
    environment.set("SELAVIA_CACHE_KEY", "/tmp/chave").set("XDG_DATA_HOME", "/tmp/dados");
    EXPECT_EQ(rev::Settings::fromEnvironment().cacheKeyFile, "/tmp/chave");
    environment.set("SELAVIA_CACHE_KEY", std::nullopt);
    EXPECT_EQ(rev::Settings::fromEnvironment().cacheKeyFile, "/tmp/dados/selavia-reader/cache-key");
    environment.set("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(rev::Settings::fromEnvironment().cacheKeyFile,
              "/tmp/casa/.local/share/selavia-reader/cache-key");
}

} // namespace

namespace {

TEST(RevocationCacheKeyTest, TheKeyIsMadeOnceAndOnlyAPrivateOneIsUsed)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("dados/selavia-reader/cache-key");
    const std::optional<QByteArray> made = rev::cacheKey(path);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->size(), 32);
    EXPECT_EQ(rev::cacheKey(path), made) << "made once, then read";
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A key others may read seals nothing; nor does one behind a link.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    EXPECT_FALSE(rev::cacheKey(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    const QString link = folder.filePath("ligacao");
    ASSERT_TRUE(QFile::link(path, link));
    EXPECT_FALSE(rev::cacheKey(link));
    EXPECT_FALSE(rev::cacheKey(QString()));
}

} // namespace

// A partitioned list speaks for the certificates that point to it: online
// and, later, from the cache's index alone.
TEST_F(RevocationFetchTest, APartitionAnswersOnlyForItsOwnAddressOnlineAndFromTheCache)
{
    struct Row {
        const char* what;
        std::string partition; // the list's issuingDistributionPoint name
        sig::RevocationState state;
    };
    const std::vector<Row> rows = {
        {"the partition at its own address", server_.url("/ac.crl"), sig::RevocationState::Good},
        {"another partition served there", server_.url("/outra-parte.crl"),
         sig::RevocationState::Unknown},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        server_.route(
            "/ac.crl",
            HttpReply{.body = derOf(fx::makeCrl(
                          {.issuer = &pki_.authority,
                           .extensions = {{"issuingDistributionPoint",
                                           "critical,fullname:URI:" + row.partition}}}))});
        refillCache();
        EXPECT_EQ(statusOf().revocation.state, row.state) << "online";
        EXPECT_EQ(statusOf(/*offline=*/true).revocation.state, row.state) << "from the cache";
    }
}
