#include "platform/revocation/Cache.h"
#include "tests/support/CliRun.h"
#include "tests/support/HttpTestServer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QScopeGuard>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace selavia::testing;
namespace cli = selavia::cli;
namespace verify = selavia::verify;

namespace {

// Two signers under one authority whose list and certificate are on the
// test's server: the documents carry neither.
class PrefetchTest : public CliRunTest {
protected:
    PrefetchTest()
    {
        for (const char* name : {"FULANA", "BELTRANO"}) {
            signers_.push_back(fx::makeCertificate(
                {.subject = {{"CN", name}},
                 .issuer = &authority_,
                 .extensions = {
                     {"crlDistributionPoints", "URI:" + server_.url("/ac.crl")},
                     {"authorityInfoAccess", "caIssuers;URI:" + server_.url("/ac.der")}}}));
            files_ << dir_.write(QStringLiteral("%1.slv").arg(name),
                                 fx::makeSignedMessage({.signers = {{.cert = signers_.back()}}}));
        }
        server_.route("/ac.der", HttpReply{.body = authority_.der()});
        server_.route("/ac.crl", HttpReply{.body = listOf({})});
    }

    QString url(const char* path) const { return QString::fromStdString(server_.url(path)); }
    fx::Bytes listOf(fx::CrlSpec spec) const
    {
        spec.issuer = &authority_;
        return fx::crlDer(fx::makeCrl(spec).get());
    }

    int run(const QStringList& arguments, const QString& cache, bool offline)
    {
        selavia::revocation::Settings settings;
        settings.offline = offline;
        settings.cacheFolder = dir_.filePath(cache);
        settings.cacheKeyFile = dir_.filePath("chave");
        return CliRunTest::run(arguments, verify::LoadOptions(storeTrusting({&root_}), settings));
    }
    int prefetch() { return run(QStringList{"--prefetch"} + files_, "cache", false); }

    // The cache made read-only, as on a machine that only reads it.
    auto readOnlyCache() const
    {
        const QByteArray path = QFile::encodeName(dir_.filePath("cache"));
        EXPECT_EQ(::chmod(path.constData(), 0555), 0);
        return qScopeGuard([path] { ::chmod(path.constData(), 0700); });
    }

    // Each file's status, and each signer's verdict and revocation.
    struct Answer {
        int status;
        QStringList verdicts, revocations, sources;
    };
    Answer verifyAll(const QString& cache, bool offline)
    {
        Answer answer{run(QStringList{"--json"} + files_, cache, offline), {}, {}, {}};
        for (const QJsonObject& line : jsonLines()) {
            answer.verdicts << line["verdict"].toString();
            for (const QJsonValue& signer : line["signers"].toArray()) {
                answer.revocations << signer["revocation"]["status"].toString();
                answer.sources << signer["revocation"]["source"].toString();
            }
        }
        return answer;
    }

    // Every entry of the cache with its size and time of change.
    QStringList snapshot() const
    {
        QStringList entries;
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        for (const QFileInfo& info : QDir(dir_.filePath("cache")).entryInfoList(all))
            entries << info.fileName() + ' ' + QString::number(info.size()) + ' ' +
                           info.lastModified().toString(Qt::ISODateWithMs);
        return entries;
    }

    HttpTestServer server_;
    fx::Cert root_ = fx::makeCertificate({.subject = {{"CN", "Raiz da Cache"}},
                                          .key = fx::makeKey(fx::KeyType::EcP256, true),
                                          .ca = true});
    fx::Cert authority_ = fx::makeCertificate({.subject = {{"CN", "AC da Cache"}},
                                               .issuer = &root_,
                                               .key = fx::makeKey(fx::KeyType::EcP256, true),
                                               .ca = true});
    std::vector<fx::Cert> signers_;
    QStringList files_;
};

// Filled on one machine, read-only on another: offline, the same answers
// as online, and nothing written or complained of.
TEST_F(PrefetchTest, FetchesEachAddressOnceAndAReadOnlyCopyAnswersOfflineAsTheNetworkWould)
{
    ASSERT_EQ(prefetch(), cli::exit_status::kSignaturesOk) << err_.toStdString();
    QStringList lines = out_.split('\n', Qt::SkipEmptyParts);
    lines.sort();
    EXPECT_EQ(lines, QStringList({"certificado emissor: " + url("/ac.der"),
                                  "lista de certificados revogados: " + url("/ac.crl")}));
    EXPECT_EQ(err_, QString());
    EXPECT_EQ(server_.count("/ac.crl"), 1);
    EXPECT_EQ(server_.count("/ac.der"), 1);
    EXPECT_EQ(server_.total(), 2) << "no OCSP, nothing else";
    // A refresh fetches the list again, whatever the cache holds.
    ASSERT_EQ(prefetch(), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(server_.count("/ac.crl"), 2);

    const Answer online = verifyAll("outra-cache", false);
    ASSERT_EQ(online.revocations, QStringList({"good", "good"}));
    // The files run in parallel: one fetched the list, the other may have
    // found it in the cache the first one filled.
    ASSERT_TRUE(online.sources.contains("download")) << online.sources.join(' ').toStdString();
    const int asked = server_.total();

    const auto readOnly = readOnlyCache();
    const QStringList before = snapshot();
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        const Answer offline = verifyAll("cache", true);
        EXPECT_EQ(offline.status, online.status);
        EXPECT_EQ(offline.verdicts, online.verdicts);
        EXPECT_EQ(offline.revocations, online.revocations);
        EXPECT_EQ(offline.sources, QStringList({"cache", "cache"}));
        EXPECT_EQ(err_, QString());
    }
    EXPECT_EQ(snapshot(), before);
    // Nothing is fetched into a folder that cannot be written.
    EXPECT_EQ(prefetch(), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("não pode ser gravada")) << err_.toStdString();
    EXPECT_EQ(server_.total(), asked);
}

// A shared cache refreshed while a process reads it: each list is read
// once, until it is replaced. A list past its nextUpdate still proves a
// revocation, never its absence, from the cache as from the network.
TEST_F(PrefetchTest, AReplacedListInASharedCacheIsReadAgainAndAStaleOneNeverVouches)
{
    ASSERT_EQ(prefetch(), cli::exit_status::kSignaturesOk);
    const auto readOnly = readOnlyCache();
    EXPECT_EQ(verifyAll("cache", true).revocations, QStringList({"good", "good"}));
    const QString entry = dir_.filePath(
        "cache/" + selavia::revocation::Cache::stemFor("crl", url("/ac.crl").toUtf8()) + ".der");
    ASSERT_TRUE(QFileInfo::exists(entry));
    const std::time_t now = std::time(nullptr);
    const std::vector<std::tuple<const char*, std::vector<fx::Cert>, std::time_t, QStringList>>
        cases = {
            {"revoga FULANA", {signers_[0]}, now + 3600, {"revoked", "good"}},
            {"revoga os dois", signers_, now + 3600, {"revoked", "revoked"}},
            {"vencida", {}, now - 3600, {"unknown", "unknown"}},
            {"vencida, revoga FULANA", {signers_[0]}, now - 3600, {"revoked", "unknown"}},
            {"nenhum", {}, now + 3600, {"good", "good"}},
        };
    for (const auto& [name, revoked, nextUpdate, revocations] : cases) {
        SCOPED_TRACE(name);
        const fx::Bytes list =
            listOf({.revoked = revoked, .lastUpdate = now - 3 * 3600, .nextUpdate = nextUpdate});
        // As a refresher puts it: written beside, renamed into place.
        const QString beside = dir_.write("nova.der", list);
        ASSERT_EQ(::rename(qPrintable(beside), qPrintable(entry)), 0);
        EXPECT_EQ(verifyAll("cache", true).revocations, revocations) << "offline";
        server_.route("/ac.crl", HttpReply{.body = list});
        EXPECT_EQ(verifyAll(QStringLiteral("online %1").arg(name), false).revocations, revocations)
            << "online";
    }
}

// An address that gave no answer is told as such, never among those fetched.
TEST_F(PrefetchTest, AnAddressWithoutAnswerIsToldApart)
{
    server_.route("/ac.crl", HttpReply{.status = 503});
    EXPECT_EQ(prefetch(), cli::exit_status::kNotAllValid);
    EXPECT_EQ(out_, "certificado emissor: " + url("/ac.der") + "\n");
    EXPECT_EQ(err_.count("Sem resposta: lista de certificados revogados: " + url("/ac.crl") + " ("),
              1)
        << err_.toStdString();
    EXPECT_EQ(err_.count("não foi possível obter a situação de revogação"), 2)
        << err_.toStdString();
}

// Nothing is verified beside a prefetch, nor with what it cannot honour.
TEST_F(PrefetchTest, VerifiesNothingElse)
{
    using namespace cli::exit_status;
    const std::vector<std::tuple<QStringList, bool, int, QString>> cases = {
        {{"--json"}, false, kUsage, "--prefetch não vale com --json."},
        {{"--offline"}, false, kUsage, "--prefetch não vale com --offline."},
        {{"--resume", "r.jsonl"}, false, kUsage, "--prefetch não vale com --resume."},
        {{}, true, kUsage, "--prefetch precisa da rede"},
        {{dir_.filePath("nada.slv")}, false, kNotAllValid, "nada.slv não pôde ser lido"},
    };
    for (const auto& [given, offline, status, err] : cases) {
        SCOPED_TRACE(given.join(' ').toStdString());
        EXPECT_EQ(run(QStringList{"--prefetch"} + given + QStringList{files_[0]}, "cache", offline),
                  status);
        EXPECT_TRUE(err_.contains(err)) << err_.toStdString();
        EXPECT_FALSE(out_.contains("Aprovado") || out_.contains("{")) << out_.toStdString();
    }
}

} // namespace
