#include "tests/support/CliRun.h"
#include "tests/support/HttpTestServer.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace selavia::testing;
namespace cli = selavia::cli;

namespace {

const std::time_t kNow = std::time(nullptr);

QString isoUtc(std::time_t when)
{
    return QDateTime::fromSecsSinceEpoch(when, Qt::UTC).toString(Qt::ISODate);
}

// An authority whose lists are on the test's server, and signers under it:
// one revoked ten days ago, one expired fifty days ago, one whose list was
// last issued sixty days ago (due a week later), and one whose list cannot
// be had but whose responder answers.
class JudgedAtTest : public CliRunTest {
protected:
    fx::Cert signer(const char* name, std::time_t notAfter, const std::string& list,
                    const char* ocsp = nullptr)
    {
        std::vector<std::pair<std::string, std::string>> extensions{
            {"crlDistributionPoints", "URI:" + server_.url(list)}};
        if (ocsp)
            extensions.push_back({"authorityInfoAccess", "OCSP;URI:" + server_.url(ocsp)});
        return fx::makeCertificate({.subject = {{"CN", name}},
                                    .issuer = &authority_,
                                    .notBefore = kNow - 100 * kDay,
                                    .notAfter = notAfter,
                                    .extensions = extensions});
    }

    void SetUp() override
    {
        auto list = [](fx::CrlSpec spec) {
            return HttpReply{.body = fx::crlDer(fx::makeCrl(spec).get())};
        };
        server_.route("/raiz.crl", list({.issuer = &root_}));
        server_.route("/ac.crl", list({.issuer = &authority_,
                                       .revoked = {revoked_},
                                       .revocationDate = kNow - 10 * kDay}));
        server_.route("/velha.crl", list({.issuer = &authority_,
                                          .lastUpdate = kNow - 60 * kDay,
                                          .nextUpdate = kNow - 53 * kDay}));
        server_.route("/sumida.crl", HttpReply{.status = 404});
        server_.route("/ocsp", [this](const HttpRequestSeen& request) {
            return HttpReply{.body = fx::makeOcspResponse(request.body, {.issuer = &authority_})};
        });
        settings_.cacheFolder = dir_.filePath("cache");
    }

    QString signedBy(const fx::Cert& cert)
    {
        fx::MessageSpec spec;
        spec.signers = {{.cert = cert}};
        spec.extraCertificates = {authority_};
        return dir_.write(QStringLiteral("%1.slv").arg(++files_), fx::makeSignedMessage(spec));
    }

    // The report of `path`, judged at `at` unless it is empty.
    QJsonObject judge(const QString& path, const QString& at = {})
    {
        QStringList arguments{"--json", path};
        if (!at.isEmpty())
            arguments << "--at" << at;
        EXPECT_EQ(run(arguments, selavia::verify::LoadOptions(store_, settings_)),
                  cli::exit_status::kNotAllValid)
            << err_.toStdString();
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

    int files_ = 0;
    HttpTestServer server_;
    fx::Cert root_ = fx::makeCertificate(
        {.subject = {{"CN", "Raiz do Arquivo"}}, .notBefore = kNow - 400 * kDay, .ca = true});
    fx::Cert authority_ = fx::makeCertificate(
        {.subject = {{"CN", "AC do Arquivo"}},
         .issuer = &root_,
         .notBefore = kNow - 300 * kDay,
         .ca = true,
         .extensions = {{"crlDistributionPoints", "URI:" + server_.url("/raiz.crl")}}});
    fx::Cert revoked_ = signer("REVOGADA", kNow + 300 * kDay, "/ac.crl");
    fx::Cert expired_ = signer("EXPIRADA", kNow - 50 * kDay, "/ac.crl");
    fx::Cert stale_ = signer("LISTA VELHA", kNow + 300 * kDay, "/velha.crl");
    fx::Cert askable_ = signer("CONSULTADA", kNow + 300 * kDay, "/sumida.crl", "/ocsp");
    sig::TrustStore store_ = storeTrusting({&root_});
    selavia::revocation::Settings settings_;
};

TEST_F(JudgedAtTest, EachFileIsJudgedAtTheInstantAsked)
{
    // The instant (0: now), then the verdict, the signer's revocation and
    // one of the file's reasons (empty: none).
    const std::vector<std::tuple<const char*, const fx::Cert*, std::time_t, const char*,
                                 const char*, const char*>>
        cases = {
            {"before the revocation", &revoked_, kNow - 20 * kDay, "Aprovado", "good", ""},
            {"after the revocation", &revoked_, kNow - 5 * kDay, "Reprovado", "revoked", "revoked"},
            {"now", &revoked_, 0, "Reprovado", "revoked", "revoked"},
            {"before it was issued", &revoked_, kNow - 200 * kDay, "Indeterminado", "good",
             "not-yet-valid"},
            {"while valid", &expired_, kNow - 60 * kDay, "Aprovado", "good", ""},
            {"after it expired", &expired_, kNow - 40 * kDay, "Indeterminado", "good",
             "expired-no-timestamp"},
            {"before the list's issue", &stale_, kNow - 70 * kDay, "Aprovado", "good", ""},
            {"while the list was current", &stale_, kNow - 55 * kDay, "Aprovado", "good", ""},
            {"past the list's next update", &stale_, kNow - 20 * kDay, "Indeterminado", "unknown",
             "revocation-unknown"},
        };
    for (const auto& [what, signer, when, verdict, revocation, code] : cases) {
        SCOPED_TRACE(what);
        const QString at = when ? isoUtc(when) : QString();
        const QJsonObject report = judge(signedBy(*signer), at);
        EXPECT_EQ(report["verdict"].toString(), verdict);
        EXPECT_EQ(signerRevocation(report)["status"].toString(), revocation);
        // A revocation after the instant is told, and weighs nothing then.
        EXPECT_EQ(signerRevocation(report)["detail"].toString().contains("depois, revogado em "),
                  signer == &revoked_ && QString(revocation) == "good");
        EXPECT_EQ(codes(report).contains(code), *code != '\0')
            << codes(report).join(' ').toStdString();
        EXPECT_EQ(report["at_given"].toBool(), when != 0);
        if (when) {
            EXPECT_EQ(report["checked_at"].toString(), at);
        }
    }
}

TEST_F(JudgedAtTest, NothingIsAskedThatSpeaksOnlyOfNow)
{
    const QString askable = signedBy(askable_);
    const QString unlisted = signedBy(expired_);
    const QString past = isoUtc(kNow - 60 * kDay);

    // Now, the responder answers for the list that cannot be had.
    EXPECT_EQ(signerRevocation(judge(askable))["source"].toString(), "ocsp");
    EXPECT_EQ(server_.count("/ocsp"), 1);
    // At an instant it is not asked: its answer tells of the moment asked.
    QJsonObject report = judge(askable, past);
    EXPECT_EQ(server_.count("/ocsp"), 1);
    EXPECT_EQ(signerRevocation(report)["status"].toString(), "unknown");

    // A list fetched now speaks of the instant; once cached, it is read
    // again, not fetched.
    EXPECT_EQ(signerRevocation(judge(unlisted, past))["source"].toString(), "download");
    report = judge(unlisted, past);
    EXPECT_EQ(signerRevocation(report)["source"].toString(), "cache");
    EXPECT_EQ(report["verdict"].toString(), "Aprovado");
    EXPECT_EQ(server_.count("/ac.crl"), 1);
    EXPECT_EQ(server_.count("/ocsp"), 1);
}

TEST_F(JudgedAtTest, AnInstantMustNameItsZone)
{
    const QString path = signedBy(revoked_);
    const std::vector<std::pair<QStringList, bool>> cases = {
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
    for (const auto& [given, accepted] : cases) {
        SCOPED_TRACE(given.join(' ').toStdString());
        const int status = run(QStringList{"--json", "--offline", path} + given,
                               selavia::verify::LoadOptions(store_, settings_));
        if (accepted) {
            EXPECT_EQ(json()["checked_at"].toString(), "2026-01-31T12:00:00Z");
        } else {
            EXPECT_EQ(status, cli::exit_status::kUsage);
            EXPECT_TRUE(err_.startsWith("--at precisa de ")) << err_.toStdString();
            EXPECT_TRUE(out_.isEmpty());
        }
    }
}

} // namespace
