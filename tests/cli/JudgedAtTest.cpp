#include "cli/Arguments.h"
#include "cli/VerifyCommand.h"
#include "tests/support/CliRun.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HttpTestServer.h"

#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace selavia::testing;
namespace cli = selavia::cli;

namespace {

constexpr std::time_t kDay = 24 * 3600;

QString isoUtc(std::time_t when)
{
    return QDateTime::fromSecsSinceEpoch(when, Qt::UTC).toString(Qt::ISODate);
}

// A root and an authority that publish their lists on the test's server, a
// signer revoked ten days ago, one whose certificate expired fifty days ago,
// and one whose issuer's list cannot be had but whose responder answers.
struct Archive {
    fx::Cert root;
    fx::Cert authority;
    fx::Cert revoked;
    fx::Cert expired;
    fx::Cert askable;
    std::time_t now = std::time(nullptr);
};

fx::Cert issued(const fx::Cert& issuer, const char* name, std::time_t from, std::time_t to,
                std::vector<std::pair<std::string, std::string>> extensions)
{
    return fx::makeCertificate({.subject = {{"CN", name}},
                                .issuer = &issuer,
                                .notBefore = from,
                                .notAfter = to,
                                .extensions = std::move(extensions)});
}

Archive archive(const HttpTestServer& server)
{
    Archive made;
    const std::time_t now = made.now;
    made.root = fx::makeCertificate({.subject = {{"CN", "Raiz do Arquivo"}},
                                     .key = fx::makeKey(fx::KeyType::EcP256, true),
                                     .notBefore = now - 400 * kDay,
                                     .ca = true});
    made.authority = fx::makeCertificate(
        {.subject = {{"CN", "AC do Arquivo"}},
         .issuer = &made.root,
         .key = fx::makeKey(fx::KeyType::EcP256, true),
         .notBefore = now - 300 * kDay,
         .ca = true,
         .extensions = {{"crlDistributionPoints", "URI:" + server.url("/raiz.crl")}}});
    const std::string list = "URI:" + server.url("/ac.crl");
    made.revoked = issued(made.authority, "REVOGADA", now - 100 * kDay, now + 300 * kDay,
                          {{"crlDistributionPoints", list}});
    made.expired = issued(made.authority, "EXPIRADA", now - 100 * kDay, now - 50 * kDay,
                          {{"crlDistributionPoints", list}});
    made.askable = issued(made.authority, "CONSULTADA", now - 100 * kDay, now + 300 * kDay,
                          {{"crlDistributionPoints", "URI:" + server.url("/sumida.crl")},
                           {"authorityInfoAccess", "OCSP;URI:" + server.url("/ocsp")}});
    return made;
}

class JudgedAtTest : public CliRunTest {
protected:
    void SetUp() override
    {
        server_.route("/raiz.crl",
                      HttpReply{.body = fx::crlDer(fx::makeCrl({.issuer = &files_.root}).get())});
        server_.route(
            "/ac.crl",
            HttpReply{.body = fx::crlDer(fx::makeCrl({.issuer = &files_.authority,
                                                      .revoked = {files_.revoked},
                                                      .revocationDate = files_.now - 10 * kDay})
                                             .get())});
        server_.route("/sumida.crl", HttpReply{.status = 404});
        const fx::Cert* authority = &files_.authority;
        server_.route("/ocsp", [authority](const HttpRequestSeen& request) {
            return HttpReply{.body = fx::makeOcspResponse(request.body, {.issuer = authority})};
        });
        store_.addTrusted(QByteArray::fromStdString(files_.root.der()));
        settings_.cacheFolder = dir_.filePath("cache");
    }

    QString signedBy(const fx::Cert& signer)
    {
        fx::MessageSpec spec;
        spec.signers = {{.cert = signer}};
        spec.extraCertificates = {files_.authority};
        return dir_.write(QStringLiteral("assinado-%1.slv").arg(++files),
                          fx::makeSignedMessage(spec));
    }

    QJsonObject judge(const QStringList& arguments, int expectedStatus)
    {
        const selavia::verify::LoadOptions options(store_, settings_);
        EXPECT_EQ(run(arguments, options), expectedStatus) << err_.toStdString();
        return json();
    }

    static QJsonObject signerRevocation(const QJsonObject& report)
    {
        return report["signers"].toArray()[0].toObject()["revocation"].toObject();
    }

    static QStringList codes(const QJsonObject& report)
    {
        QStringList found;
        for (const QJsonValue& reason : report["reasons"].toArray())
            found << reason.toObject()["code"].toString();
        return found;
    }

    int files = 0;
    HttpTestServer server_;
    Archive files_ = archive(server_);
    sig::TrustStore store_ = sig::TrustStore::empty();
    selavia::revocation::Settings settings_;
};

TEST_F(JudgedAtTest, EachFileIsJudgedAtTheInstantAsked)
{
    const std::time_t now = files_.now;
    struct Case {
        const char* what;
        const fx::Cert* signer;
        QString at; // empty: now
        const char* verdict;
        const char* revocation; // of the signer's certificate
        const char* code;       // one of the file's reasons; empty: none
    };
    const std::vector<Case> cases = {
        {"before the revocation", &files_.revoked, isoUtc(now - 20 * kDay), "Aprovado", "good", ""},
        {"after the revocation", &files_.revoked, isoUtc(now - 5 * kDay), "Reprovado", "revoked",
         "revoked"},
        {"now", &files_.revoked, {}, "Reprovado", "revoked", "revoked"},
        {"while the certificate was valid", &files_.expired, isoUtc(now - 60 * kDay), "Aprovado",
         "good", ""},
        {"after it expired", &files_.expired, isoUtc(now - 40 * kDay), "Indeterminado", "good",
         "expired-no-timestamp"},
        {"before it was issued", &files_.revoked, isoUtc(now - 200 * kDay), "Indeterminado", "good",
         "not-yet-valid"},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.what);
        QStringList arguments{"--json", signedBy(*one.signer)};
        if (!one.at.isEmpty())
            arguments << "--at" << one.at;
        const QJsonObject report = judge(arguments, cli::exit_status::kNotAllValid);
        EXPECT_EQ(report["verdict"].toString(), one.verdict);
        const QJsonObject revocation = signerRevocation(report);
        EXPECT_EQ(revocation["status"].toString(), one.revocation);
        // A revocation after the instant is told, and weighs nothing then.
        EXPECT_EQ(revocation["detail"].toString().contains("depois, revogado em "),
                  one.signer == &files_.revoked && QString(one.revocation) == "good");
        EXPECT_EQ(codes(report).contains(one.code), *one.code != '\0')
            << codes(report).join(' ').toStdString();
        EXPECT_EQ(report["at_given"].toBool(), !one.at.isEmpty());
        if (!one.at.isEmpty()) {
            EXPECT_EQ(report["checked_at"].toString(), one.at);
        }
        // Every certificate of the path says what its status rests on.
        for (const QJsonValue& link :
             report["signers"].toArray()[0].toObject()["chain_status"].toArray()) {
            const QJsonObject revocation = link.toObject()["revocation"].toObject();
            for (const char* member :
                 {"status", "source", "revoked_at", "this_update", "next_update", "detail"})
                EXPECT_TRUE(revocation.contains(member)) << member;
        }
    }
}

TEST_F(JudgedAtTest, AnInstantInAnotherZoneIsTheSameInstant)
{
    const QString path = signedBy(files_.revoked);
    const QDateTime instant = QDateTime::fromSecsSinceEpoch(files_.now - 20 * kDay, Qt::UTC);
    const QString zoned = instant.toOffsetFromUtc(-3 * 3600).toString(Qt::ISODate);
    ASSERT_TRUE(zoned.endsWith("-03:00"));
    const QJsonObject report = judge({"--json", "--at=" + zoned, path}, 1);
    EXPECT_EQ(report["checked_at"].toString(), instant.toString(Qt::ISODate));
    EXPECT_EQ(report["verdict"].toString(), "Aprovado");
}

TEST_F(JudgedAtTest, NothingIsAskedThatSpeaksOnlyOfNow)
{
    const QString askable = signedBy(files_.askable);
    const QString revoked = signedBy(files_.revoked);
    const QString past = isoUtc(files_.now - 20 * kDay);

    // Now, the responder answers for the list that cannot be had.
    QJsonObject report = judge({"--json", askable}, 1);
    EXPECT_EQ(signerRevocation(report)["source"].toString(), "ocsp");
    EXPECT_EQ(server_.count("/ocsp"), 1);
    // At an instant, it is not asked: its answer tells of the moment asked.
    report = judge({"--json", "--at", past, askable}, 1);
    EXPECT_EQ(server_.count("/ocsp"), 1);
    EXPECT_EQ(signerRevocation(report)["status"].toString(), "unknown");
    EXPECT_TRUE(codes(report).contains("revocation-unknown"));

    // A list fetched now speaks of the instant; once cached, it is read
    // again and not fetched.
    report = judge({"--json", "--at", past, revoked}, 1);
    EXPECT_EQ(server_.count("/ac.crl"), 1);
    EXPECT_EQ(signerRevocation(report)["source"].toString(), "download");
    report = judge({"--json", "--at", past, revoked}, 1);
    EXPECT_EQ(server_.count("/ac.crl"), 1);
    EXPECT_EQ(signerRevocation(report)["source"].toString(), "cache");
    EXPECT_EQ(report["verdict"].toString(), "Aprovado");
    EXPECT_EQ(server_.count("/ocsp"), 1);
}

TEST_F(JudgedAtTest, AListPastItsNextUpdateAtTheInstantSaysNothingOfIt)
{
    const std::time_t now = files_.now;
    // Issued sixty days ago and due again a week later: it speaks of the
    // days up to its issue, and of the week it was current, not after.
    server_.route("/ac.crl",
                  HttpReply{.body = fx::crlDer(fx::makeCrl({.issuer = &files_.authority,
                                                            .lastUpdate = now - 60 * kDay,
                                                            .nextUpdate = now - 53 * kDay})
                                                   .get())});
    const QString path = signedBy(files_.revoked);
    struct Case {
        const char* what;
        std::time_t at;
        const char* revocation;
    };
    const std::vector<Case> cases = {
        {"before its issue", now - 70 * kDay, "good"},
        {"while current", now - 55 * kDay, "good"},
        {"past its next update", now - 20 * kDay, "unknown"},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.what);
        const QJsonObject report = judge({"--json", "--at", isoUtc(one.at), path}, 1);
        EXPECT_EQ(signerRevocation(report)["status"].toString(), one.revocation);
        EXPECT_EQ(report["verdict"].toString(),
                  QString(one.revocation) == "good" ? "Aprovado" : "Indeterminado");
    }
}

TEST_F(JudgedAtTest, AnInstantMustNameItsZone)
{
    const QString path = signedBy(files_.revoked);
    struct Case {
        QStringList arguments;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {{"--at", "2026-01-31T12:00:00Z"}, true},
        {{"--at=2026-01-31T09:00:00-03:00"}, true},
        {{"--at", "2026-01-31T12:00:00.250+00:00"}, true},
        {{"--at", "2026-01-31T12:00:00"}, false},
        {{"--at", "2026-01-31"}, false},
        {{"--at", "31/01/2026 12:00"}, false},
        {{"--at", "ontem"}, false},
        {{"--at", " 2026-01-31T12:00:00Z"}, false},
        {{"--at="}, false},
        {{"--at"}, false},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.arguments.join(' ').toStdString());
        const QStringList arguments = QStringList{"--json", "--offline", path} + one.arguments;
        const int status = run(arguments, selavia::verify::LoadOptions(store_, settings_));
        if (one.accepted) {
            EXPECT_NE(status, cli::exit_status::kUsage) << err_.toStdString();
            EXPECT_EQ(json()["checked_at"].toString(), "2026-01-31T12:00:00Z");
        } else {
            EXPECT_EQ(status, cli::exit_status::kUsage);
            EXPECT_TRUE(err_.startsWith("--at precisa de ")) << err_.toStdString();
            EXPECT_TRUE(out_.isEmpty());
        }
    }
}

// The real program, its system store given by SSL_CERT_FILE.
TEST_F(JudgedAtTest, TheTrustIdentifierFollowsTheRootsNotTheirOrder)
{
    const QString path = signedBy(files_.revoked);
    const fx::Cert other = fx::makeCertificate({.subject = {{"CN", "Outra Raiz"}}, .ca = true});
    auto trustWith = [&](const std::vector<const fx::Cert*>& roots) {
        std::string pem;
        for (const fx::Cert* root : roots)
            pem += root->pem();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SSL_CERT_FILE", dir_.write("raizes.pem", pem));
        environment.insert("SSL_CERT_DIR", dir_.filePath("nenhum"));
        environment.insert("SELAVIA_CACHE_DIR", dir_.filePath("cache"));
        environment.insert("SELAVIA_CACHE_KEY", dir_.filePath("cache-key"));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(SELAVIA_VERIFY_BINARY, {"--json", "--offline", path, path});
        EXPECT_TRUE(program.waitForFinished(60000));
        QStringList ids;
        for (const QByteArray& line : program.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty())
                ids << QJsonDocument::fromJson(line).object()["trust"].toString();
        }
        EXPECT_EQ(ids.size(), 2);
        EXPECT_EQ(ids.value(0), ids.value(1));
        return ids.value(0);
    };
    const QString first = trustWith({&files_.root, &other});
    EXPECT_TRUE(QRegularExpression("^sha256:[0-9a-f]{16}$").match(first).hasMatch())
        << first.toStdString();
    EXPECT_EQ(trustWith({&files_.root, &other}), first);
    EXPECT_EQ(trustWith({&other, &files_.root}), first);
    EXPECT_NE(trustWith({&files_.root}), first);
    EXPECT_NE(trustWith({&files_.root, &other, &files_.authority}), first);
}

} // namespace
