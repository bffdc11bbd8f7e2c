#include "platform/revocation/Cache.h"
#include "tests/support/CliRun.h"
#include "tests/support/HttpTestServer.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace selavia::testing;
namespace cli = selavia::cli;
namespace verify = selavia::verify;

namespace {

constexpr std::time_t kHour = 3600;

// Two signers under one authority whose list and certificate are on the
// test's server: the documents carry neither.
class PrefetchTest : public CliRunTest {
protected:
    PrefetchTest()
    {
        root_ = fx::makeCertificate({.subject = {{"CN", "Raiz da Cache"}},
                                     .key = fx::makeKey(fx::KeyType::EcP256, true),
                                     .ca = true});
        authority_ = fx::makeCertificate({.subject = {{"CN", "AC da Cache"}},
                                          .issuer = &root_,
                                          .key = fx::makeKey(fx::KeyType::EcP256, true),
                                          .ca = true});
        for (const char* name : {"FULANA", "BELTRANO"}) {
            signers_.push_back(fx::makeCertificate(
                {.subject = {{"CN", name}},
                 .issuer = &authority_,
                 .extensions = {
                     {"crlDistributionPoints", "URI:" + server_.url("/ac.crl")},
                     {"authorityInfoAccess", "caIssuers;URI:" + server_.url("/ac.der")}}}));
            fx::MessageSpec spec;
            spec.signers = {{.cert = signers_.back()}};
            files_ << dir_.write(QStringLiteral("%1.slv").arg(name), fx::makeSignedMessage(spec));
        }
        server_.route("/ac.der", HttpReply{.body = authority_.der()});
        serveList({});
    }

    void serveList(fx::CrlSpec spec)
    {
        spec.issuer = &authority_;
        server_.route("/ac.crl", HttpReply{.body = fx::crlDer(fx::makeCrl(spec).get())});
    }

    verify::LoadOptions options(const QString& cache, bool offline) const
    {
        selavia::revocation::Settings settings;
        settings.offline = offline;
        settings.cacheFolder = dir_.filePath(cache);
        settings.cacheKeyFile = dir_.filePath("chave");
        verify::LoadOptions options(storeTrusting({&root_}), settings);
        return options;
    }

    int prefetch(const QString& cache, const QStringList& files)
    {
        return run(QStringList{"--prefetch"} + files, options(cache, false));
    }

    // Each file's status, and each signer's verdict and revocation.
    struct Answer {
        int status;
        QStringList verdicts;
        QStringList revocations;
        QStringList sources;
    };
    Answer verifyAll(const QString& cache, bool offline)
    {
        Answer answer{run(QStringList{"--json"} + files_, options(cache, offline)), {}, {}, {}};
        for (const QJsonObject& line : jsonLines()) {
            answer.verdicts << line["verdict"].toString();
            for (const QJsonValue& signer : line["signers"].toArray()) {
                const QJsonObject revocation = signer["revocation"].toObject();
                answer.revocations << revocation["status"].toString();
                answer.sources << revocation["source"].toString();
            }
        }
        return answer;
    }

    // Every entry under `folder` with its size and time of change.
    QStringList snapshot(const QString& folder) const
    {
        QStringList entries;
        QDirIterator it(dir_.filePath(folder),
                        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            entries << QStringLiteral("%1 %2 %3")
                           .arg(info.fileName())
                           .arg(info.size())
                           .arg(info.lastModified().toMSecsSinceEpoch());
        }
        entries.sort();
        return entries;
    }

    HttpTestServer server_;
    fx::Cert root_;
    fx::Cert authority_;
    std::vector<fx::Cert> signers_;
    QStringList files_;
};

TEST_F(PrefetchTest, FetchesEachListAndIssuerOnceAndTellsWhat)
{
    ASSERT_EQ(prefetch("cache", files_), cli::exit_status::kSignaturesOk) << err_.toStdString();
    QStringList lines = out_.split('\n', Qt::SkipEmptyParts);
    lines.sort();
    EXPECT_EQ(lines, QStringList({
                         "certificado emissor: " + QString::fromStdString(server_.url("/ac.der")),
                         "lista de certificados revogados: " +
                             QString::fromStdString(server_.url("/ac.crl")),
                     }));
    EXPECT_EQ(err_, QString());
    EXPECT_EQ(server_.count("/ac.crl"), 1);
    EXPECT_EQ(server_.count("/ac.der"), 1);
    EXPECT_EQ(server_.total(), 2) << "no OCSP, nothing else";

    // A refresh fetches the list again, whatever the cache holds.
    ASSERT_EQ(prefetch("cache", files_), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(server_.count("/ac.crl"), 2);
}

// Filled on one machine, read-only on another: offline, the same answers
// as online, and nothing written or complained of.
TEST_F(PrefetchTest, AReadOnlyCacheAnswersOfflineAsTheNetworkWould)
{
    ASSERT_EQ(prefetch("cache", files_), cli::exit_status::kSignaturesOk);
    const Answer online = verifyAll("outra-cache", false);
    ASSERT_EQ(online.revocations, QStringList({"good", "good"}));
    // The files run in parallel: one fetched the list, the other may have
    // found it in the cache the first one filled.
    ASSERT_TRUE(online.sources.contains("download")) << online.sources.join(' ').toStdString();
    const int asked = server_.total();

    ASSERT_EQ(::chmod(QFile::encodeName(dir_.filePath("cache")).constData(), 0555), 0);
    const QStringList before = snapshot("cache");
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        const Answer offline = verifyAll("cache", true);
        EXPECT_EQ(offline.status, online.status);
        EXPECT_EQ(offline.verdicts, online.verdicts);
        EXPECT_EQ(offline.revocations, online.revocations);
        EXPECT_EQ(offline.sources, QStringList({"cache", "cache"}));
        EXPECT_EQ(err_, QString());
    }
    EXPECT_EQ(snapshot("cache"), before);
    EXPECT_EQ(server_.total(), asked);
    // Nothing is fetched into a folder that cannot be written.
    EXPECT_EQ(prefetch("cache", files_), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("não pode ser gravada")) << err_.toStdString();
    EXPECT_EQ(server_.total(), asked);
    ::chmod(QFile::encodeName(dir_.filePath("cache")).constData(), 0700);
}

// A shared cache refreshed while a process reads it: the process reads
// each list once, until the list is replaced.
TEST_F(PrefetchTest, AReplacedListInASharedCacheIsReadAgain)
{
    ASSERT_EQ(prefetch("cache", files_), cli::exit_status::kSignaturesOk);
    ASSERT_EQ(::chmod(QFile::encodeName(dir_.filePath("cache")).constData(), 0555), 0);
    EXPECT_EQ(verifyAll("cache", true).revocations, QStringList({"good", "good"}));
    const QString entry =
        dir_.filePath("cache/" +
                      selavia::revocation::Cache::stemFor(
                          "crl", QByteArray::fromStdString(server_.url("/ac.crl"))) +
                      ".der");
    ASSERT_TRUE(QFileInfo::exists(entry));
    struct Case {
        const char* name;
        std::vector<fx::Cert> revoked;
        QStringList revocations;
    };
    for (const Case& c : std::vector<Case>{{"revoga FULANA", {signers_[0]}, {"revoked", "good"}},
                                           {"revoga os dois", signers_, {"revoked", "revoked"}},
                                           {"nenhum", {}, {"good", "good"}}}) {
        SCOPED_TRACE(c.name);
        // As a refresher puts it: written beside, renamed into place.
        const QString beside = dir_.write(
            "nova.der",
            fx::crlDer(fx::makeCrl({.issuer = &authority_, .revoked = c.revoked}).get()));
        ASSERT_EQ(
            ::rename(QFile::encodeName(beside).constData(), QFile::encodeName(entry).constData()),
            0);
        EXPECT_EQ(verifyAll("cache", true).revocations, c.revocations);
    }
    ::chmod(QFile::encodeName(dir_.filePath("cache")).constData(), 0700);
}

// A list past its nextUpdate still proves a revocation, never its absence.
TEST_F(PrefetchTest, AListPastItsNextUpdateNeverSaysNotRevoked)
{
    const std::time_t now = std::time(nullptr);
    struct Case {
        const char* name;
        std::time_t nextUpdate;
        bool listsFulana;
        QStringList revocations; // FULANA's, BELTRANO's
    };
    const std::vector<Case> cases = {
        {"em dia", now + kHour, false, {"good", "good"}},
        {"em dia, revogada", now + kHour, true, {"revoked", "good"}},
        {"vencida", now - kHour, false, {"unknown", "unknown"}},
        {"vencida, revogada", now - kHour, true, {"revoked", "unknown"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serveList({.revoked =
                       c.listsFulana ? std::vector<fx::Cert>{signers_[0]} : std::vector<fx::Cert>{},
                   .lastUpdate = now - 3 * kHour,
                   .nextUpdate = c.nextUpdate});
        const QString cache = QStringLiteral("cache %1").arg(c.name);
        prefetch(cache, files_);
        EXPECT_EQ(verifyAll(cache, true).revocations, c.revocations) << "offline, from the cache";
        EXPECT_EQ(verifyAll(QStringLiteral("online %1").arg(c.name), false).revocations,
                  c.revocations)
            << "online";
    }
}

TEST_F(PrefetchTest, VerifiesNothingElse)
{
    struct Case {
        QStringList arguments;
        bool offline;
        int status;
        const char* err;
    };
    const std::vector<Case> cases = {
        {{"--prefetch", "--json", files_[0]}, false, 64, "--prefetch não vale com --json."},
        {{"--prefetch", "--offline", files_[0]}, false, 64, "--prefetch não vale com --offline."},
        {{"--prefetch", "--resume", "r.jsonl", files_[0]},
         false,
         64,
         "--prefetch não vale com --resume."},
        {{"--prefetch", files_[0]}, true, 64, "--prefetch precisa da rede"},
        {{"--prefetch", dir_.filePath("nada.slv"), files_[0]},
         false,
         1,
         "nada.slv não pôde ser lido"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        EXPECT_EQ(run(c.arguments, options("cache", c.offline)), c.status);
        EXPECT_TRUE(err_.contains(c.err)) << err_.toStdString();
        EXPECT_FALSE(out_.contains("Aprovado") || out_.contains("{")) << out_.toStdString();
    }
}

} // namespace
