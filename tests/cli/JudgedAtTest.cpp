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
        return dir_.write(QStringLiteral("%1.slv").arg(++files_),
                          fx::makeSignedMessage(
                              {.signers = {{.cert = cert}}, .extraCertificates = {authority_}}));
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

    // What the report says of the signer's revocation: its status, source or detail.
    static QString revocation(const QJsonObject& report, const char* what = "status")
    {
        return report["signers"][0]["revocation"][what].toString();
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
    // Signer, days before now that it is judged at (0: now), the verdict,
    // the signer's revocation and one of the file's reasons (empty: none).
    const std::vector<std::tuple<const fx::Cert*, int, const char*, QString, QString>> cases = {
        {&revoked_, 20, "Aprovado", "good", ""},
        {&revoked_, 5, "Reprovado", "revoked", "revoked"},
        {&revoked_, 0, "Reprovado", "revoked", "revoked"},
        {&revoked_, 200, "Indeterminado", "good", "not-yet-valid"},
        {&expired_, 60, "Aprovado", "good", ""},
        {&expired_, 40, "Indeterminado", "good", "expired-no-timestamp"},
        {&stale_, 70, "Aprovado", "good", ""}, // before the list's issue
        {&stale_, 55, "Aprovado", "good", ""}, // while the list was current
        {&stale_, 20, "Indeterminado", "unknown", "revocation-unknown"},
    };
    for (const auto& [signer, days, verdict, status, code] : cases) {
        SCOPED_TRACE(std::to_string(days) + " days ago, " + verdict);
        const QString at = days ? isoUtc(kNow - days * kDay) : QString();
        const QJsonObject report = judge(signedBy(*signer), at);
        EXPECT_EQ(report["verdict"].toString(), verdict);
        EXPECT_EQ(revocation(report), status);
        // A revocation after the instant is told, and weighs nothing then.
        EXPECT_EQ(revocation(report, "detail").contains("depois, revogado em "),
                  signer == &revoked_ && status == "good");
        QStringList codes;
        for (const QJsonValue& reason : report["reasons"].toArray())
            codes << reason["code"].toString();
        EXPECT_EQ(codes.contains(code), !code.isEmpty()) << codes.join(' ').toStdString();
        EXPECT_EQ(report["at_given"].toBool(), days != 0);
        EXPECT_TRUE(!days || report["checked_at"].toString() == at)
            << report["checked_at"].toString().toStdString();
    }
}

TEST_F(JudgedAtTest, NothingIsAskedThatSpeaksOnlyOfNow)
{
    const QString askable = signedBy(askable_);
    const QString unlisted = signedBy(expired_);
    const QString past = isoUtc(kNow - 60 * kDay);

    // Now, the responder answers for the list that cannot be had.
    EXPECT_EQ(revocation(judge(askable), "source"), "ocsp");
    EXPECT_EQ(server_.count("/ocsp"), 1);
    // At an instant it is not asked: its answer tells of the moment asked.
    QJsonObject report = judge(askable, past);
    EXPECT_EQ(server_.count("/ocsp"), 1);
    EXPECT_EQ(revocation(report), "unknown");

    // A list fetched now speaks of the instant; once cached, it is read
    // again, not fetched.
    EXPECT_EQ(revocation(judge(unlisted, past), "source"), "download");
    report = judge(unlisted, past);
    EXPECT_EQ(revocation(report, "source"), "cache");
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
