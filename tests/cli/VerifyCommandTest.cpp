#include "cli/VerifyCommand.h"

#include "fileinfo/FileHandler.h"
#include "platform/signature/SignatureError.h"
#include "selavia/Version.h"
#include "tests/support/CliRun.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PdfText.h"
#include "tests/support/VerdictStates.h"
#include "tools/fixtures/CadesFixtures.h"
#include "tools/fixtures/PdfFixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>

using namespace selavia::testing;
namespace cli = selavia::cli;

namespace {

const fx::Bytes kContent = "%PDF-1.4 contrato de locação";

class VerifyCommandTest : public CliRunTest {
protected:
    static fx::MessageSpec icpSpec()
    {
        const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
        fx::MessageSpec spec;
        spec.content = kContent;
        fx::SignerSpec signer{.cert =
                                  fx::issueEndEntity(icp.intermediate, "FULANA DE TAL:12345678901",
                                                     {fx::icpPersonal("02031985", "98765432100")})};
        signer.attributes = {fx::documentNameAttribute("locacao.pdf"),
                             fx::documentDescriptionAttribute("<ct>CARIMBO_LOCAL</ct>")};
        spec.signers = {signer};
        spec.extraCertificates = {icp.intermediate, icp.root};
        return spec;
    }

    using CliRunTest::run;
    // Most runs trust the ICP-like root.
    int run(const QStringList& arguments) { return CliRunTest::run(arguments, trustingIcp()); }

    // The ICP document, written as "locacao.slv".
    QString locacao() { return dir_.write("locacao.slv", fx::makeSignedMessage(icpSpec())); }

    QJsonObject runJson(const QString& path, int expectedStatus,
                        const sig::TrustStore& store = trustingIcp())
    {
        EXPECT_EQ(run({"--json", path}, store), expectedStatus) << err_.toStdString();
        QJsonParseError parseError{};
        QJsonDocument document = QJsonDocument::fromJson(out_.toUtf8(), &parseError);
        EXPECT_EQ(parseError.error, QJsonParseError::NoError) << out_.toStdString();
        return document.object();
    }
};

// The verdict of a signer or file, with a sub-indication and its first reason.
void expectJudged(const QJsonObject& judged, const QString& verdict, const QString& indication,
                  const QString& firstCode)
{
    EXPECT_EQ(judged["verdict"].toString(), verdict);
    EXPECT_EQ(judged["indication"].toString(), indication);
    EXPECT_FALSE(judged["sub_indication"].toString().isEmpty());
    EXPECT_EQ(judged["reasons"].toArray()[0].toObject()["code"].toString(), firstCode);
}

// Each member of `expected`, a JSON object's text, is in `object` with exactly its value.
void expectMembers(const QJsonObject& object, const char* expected)
{
    const QJsonObject members = QJsonDocument::fromJson(expected).object();
    ASSERT_FALSE(members.isEmpty()) << expected;
    for (auto it = members.begin(); it != members.end(); ++it)
        EXPECT_EQ(object[it.key()], it.value()) << it.key().toStdString();
}

const QStringList kMembers = {"file",          "verified",      "error",          "signatures_ok",
                              "original_name", "has_extension", "content_size",   "content_sha256",
                              "signers",       "tree",          "checked_at",     "offline",
                              "verdict",       "indication",    "sub_indication", "reasons",
                              "subindication", "format",        "file_sha256",    "at_given",
                              "trust"};

} // namespace

TEST_F(VerifyCommandTest, BadUsageExitsWith64AndExplains)
{
    const std::vector<QStringList> bad = {{},
                                          {"--bogus", "a.slv"},
                                          {"--force", "a.slv"},
                                          {"a.slv", "--extract"},
                                          {"a.slv", "--report"},
                                          {"-", "a.slv", "-"},
                                          {"a.slv", ""}};
    for (const QStringList& arguments : bad) {
        EXPECT_EQ(run(arguments), cli::exit_status::kUsage) << arguments.join(' ').toStdString();
        EXPECT_TRUE(err_.contains("Uso: selavia-verify")) << err_.toStdString();
        EXPECT_TRUE(out_.isEmpty());
    }
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_TRUE(out_.contains("--extract CAMINHO"));
    EXPECT_TRUE(out_.contains("--offline"));
}

TEST_F(VerifyCommandTest, OnlyAVerificationMakesTheLoadOptions)
{
    const QString path = locacao();
    struct Case {
        QStringList arguments;
        int status;
        int made; // times the options were made
        QString out;
    };
    const QString version = QString("selavia-verify %1.%2.%3\n")
                                .arg(selavia::kVersionMajor)
                                .arg(selavia::kVersionMinor)
                                .arg(selavia::kVersionRevision);
    const std::vector<Case> cases = {
        {{"--help"}, 0, 0, {}},
        {{"--version"}, 0, 0, version},
        {{"--version", "--json", path}, 0, 0, version},
        {{"--bogus", path}, cli::exit_status::kUsage, 0, {}},
        {{}, cli::exit_status::kUsage, 0, {}},
        {{path}, cli::exit_status::kSignaturesOk, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        int made = 0;
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        const auto options = [&made] {
            ++made;
            return selavia::verify::LoadOptions(trustingIcp());
        };
        EXPECT_EQ(cli::runVerifyCommand(c.arguments, outStream, errStream, options), c.status);
        EXPECT_EQ(made, c.made);
        if (!c.out.isEmpty()) {
            EXPECT_EQ(out, c.out);
        }
    }
}

TEST_F(VerifyCommandTest, JsonOfAValidIcpDocumentHasEveryMember)
{
    const QString path = locacao();
    QJsonObject report = runJson(path, cli::exit_status::kSignaturesOk);
    EXPECT_EQ(report.keys().size(), kMembers.size());
    for (const QString& member : kMembers)
        EXPECT_TRUE(report.contains(member)) << member.toStdString();
    const QByteArray sha256 =
        QCryptographicHash::hash(bytes(kContent), QCryptographicHash::Sha256).toHex();
    expectMembers(report, R"j({"verified": true, "error": null, "signatures_ok": true,)j"
                          R"j("original_name": "locacao.pdf", "has_extension": true})j");
    EXPECT_EQ(report["file"].toString(), path);
    EXPECT_EQ(report["content_size"].toInteger(), static_cast<qint64>(kContent.size()));
    EXPECT_EQ(report["content_sha256"].toString(), sha256);

    const QJsonArray signers = report["signers"].toArray();
    ASSERT_EQ(signers.size(), 1);
    const QJsonObject signer = signers[0].toObject();
    expectMembers(signer, R"j({"index": 1, "holder_name": "FULANA DE TAL", "version": 3,)j"
                          R"j("identity": "987.654.321-00", "class": "cert_valid",)j"
                          R"j("timestamp_origin": "(LOCAL)", "warnings": []})j");
    EXPECT_EQ(signer["chain"].toArray().size(), 3);
    EXPECT_EQ(signer["chain"].toArray()[2].toString(),
              "Autoridade Certificadora Raiz Brasileira v5");
    EXPECT_EQ(signer.keys().size(), 36);
    expectMembers(signer,
                  R"j({"best_signature_time_source": "check",)j"
                  R"j("digest_algorithm": "SHA256", "signature_algorithm": "ecdsa-with-SHA256"})j");
    // No time-stamp: judged at the time of the check.
    EXPECT_EQ(signer["best_signature_time"].toString(), report["checked_at"].toString());
    // The message carries no revocation lists and the run may not ask: the
    // signer's verdict, and so the file's, is Indeterminado, while the exit
    // status (above) says its ICP-Brasil certificate is valid.
    for (const QJsonObject& judged : {signer, report})
        expectJudged(judged, "Indeterminado", "INDETERMINATE", "revocation-unknown");
    // Without CAdES attributes, their members say there is nothing.
    expectMembers(signer, R"j({"timestamp": null, "valid_at_timestamp": null, "policy": null,)j"
                          R"j("countersignatures": [], "problems": [],)j"
                          R"j("content_timestamp": null, "archive_timestamps": []})j");

    const QJsonArray tree = report["tree"].toArray();
    ASSERT_FALSE(tree.isEmpty());
    EXPECT_EQ(tree[0].toObject()["key"].toString(), "Root");
    EXPECT_TRUE(tree[0].toObject()["parent"].isNull());
    EXPECT_EQ(tree[1].toObject()["parent"].toString(), "Root");
    EXPECT_EQ(tree[1].toObject()["image"].toString(), "cert_valid");
    EXPECT_TRUE(tree[1].toObject()["expanded"].toBool());
}

// The ICP-like root or the gov.br-like one trusted as an anchor of `framework`.
sig::TrustStore trustingAs(const fx::Cert& root, sig::TrustFramework framework)
{
    sig::TrustStore store = sig::TrustStore::empty();
    store.addTrusted(bytes(root.der()), framework);
    return store;
}

TEST_F(VerifyCommandTest, EachSignerNamesTheTrustFrameworkOfItsAnchorInJsonAndText)
{
    const fx::GovBrChain& govBr = fx::govBrChain();
    fx::MessageSpec govBrSpec;
    govBrSpec.content = kContent;
    govBrSpec.signers = {{.cert = fx::govBrCitizen("MARIA DA SILVA", "12345678901")}};
    govBrSpec.extraCertificates = {govBr.issuing, govBr.intermediate, govBr.root};
    const QString govBrPath = dir_.write("govbr.slv", fx::makeSignedMessage(govBrSpec));
    const QString icpPath = locacao();
    const fx::Cert& icpRoot = fx::icpBrasilHierarchy().root;
    struct Case {
        const char* name;
        QString path;
        sig::TrustStore store;
        int status;
        const char* framework;
        const char* caption;
    };
    const std::vector<Case> cases = {
        {"ICP-Brasil anchor", icpPath, trustingAs(icpRoot, sig::TrustFramework::IcpBrasil),
         cli::exit_status::kSignaturesOk, "icp-brasil", "Certificado ICP-Brasil - Válido"},
        {"plain anchor", icpPath, trustingIcp(), cli::exit_status::kSignaturesOk, "other",
         "Certificado ICP-Brasil - Válido"},
        {"no anchor", icpPath, sig::TrustStore::empty(), cli::exit_status::kNotAllValid, "none",
         "Certificado ICP-Brasil - Inválido"},
        // Valid, but not ICP-Brasil: not what the exit status vouches for.
        {"gov.br anchor", govBrPath, trustingAs(govBr.root, sig::TrustFramework::GovBr),
         cli::exit_status::kNotAllValid, "gov.br",
         "Assinatura eletrônica avançada (gov.br) - Válida"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run({"--json", c.path}, c.store), c.status);
        const QJsonObject signer =
            QJsonDocument::fromJson(out_.toUtf8()).object()["signers"].toArray()[0].toObject();
        EXPECT_EQ(signer["trust_framework"].toString(), c.framework);
        run({c.path}, c.store);
        EXPECT_TRUE(out_.contains(QStringLiteral("  [%1]\n").arg(QString::fromUtf8(c.caption))))
            << out_.toStdString();
    }
    // The gov.br signer, in full: its own class, its name and CPF.
    run({"--json", govBrPath}, trustingAs(govBr.root, sig::TrustFramework::GovBr));
    const QJsonObject signer =
        QJsonDocument::fromJson(out_.toUtf8()).object()["signers"].toArray()[0].toObject();
    expectMembers(signer, R"j({"class": "cert_noicp_valid", "holder_name": "MARIA DA SILVA",)j"
                          R"j("identity": "123.456.789-01", "trust_framework": "gov.br"})j");
}

TEST_F(VerifyCommandTest, ExitStatusTellsValidUntrustedAndFailed)
{
    const fx::MessageSpec spec = icpSpec();
    const fx::Bytes message = fx::makeSignedMessage(spec);
    const QString good = dir_.write("bom.slv", message);
    EXPECT_EQ(run({good}), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(run({good}, sig::TrustStore::empty()), cli::exit_status::kNotAllValid);
    EXPECT_TRUE(out_.contains("Certificado ICP-Brasil - Inválido")) << out_.toStdString();

    const QString tampered = dir_.write("violado.slv", fx::tamperContent(message, spec.content));
    QJsonObject report = runJson(tampered, cli::exit_status::kVerificationFailed);
    const QJsonObject error = report["error"].toObject();
    EXPECT_EQ(error["code_text"].toString(), "-2146889721");
    EXPECT_EQ(error["caption"].toString(), "Documento Violado - Erro 1717");
    EXPECT_TRUE(error["text"].toString().endsWith("\r\nHash incorreto."));
    expectMembers(report, R"j({"verified": false, "signatures_ok": false, "has_extension": false,)j"
                          R"j("original_name": "", "content_size": null, "content_sha256": null,)j"
                          R"j("signers": [], "tree": []})j");
    EXPECT_EQ(report.keys().size(), kMembers.size());
    expectJudged(report, "Reprovado", "TOTAL-FAILED", "content-tampered");
}

// A file that is not there, or a folder, fails as before (status 2, the
// invalid-file caption) but says which file and why, in text and in JSON.
TEST_F(VerifyCommandTest, AFileThatCannotBeReadIsToldApartFromACorruptOne)
{
    const QString missing = dir_.filePath("nao-existe.slv");
    EXPECT_EQ(run({missing}), cli::exit_status::kVerificationFailed);
    EXPECT_TRUE(out_.contains("Arquivo Inválido - Erro 0212\n")) << out_.toStdString();
    EXPECT_TRUE(out_.contains("Não foi possível ler o arquivo:\n" + missing +
                              "\nMotivo: arquivo não encontrado.\n"))
        << out_.toStdString();

    ASSERT_TRUE(QDir().mkpath(dir_.filePath("pasta.slv")));
    const std::tuple<QString, int, QString> unreadable[] = {
        {missing, 53, "Arquivo não encontrado"},
        {dir_.filePath("pasta.slv"), 75, "É uma pasta, não um arquivo"},
    };
    for (const auto& [path, number, reason] : unreadable) {
        SCOPED_TRACE(path.toStdString());
        const QJsonObject error =
            runJson(path, cli::exit_status::kVerificationFailed)["error"].toObject();
        EXPECT_EQ(error["caption"].toString(), "Arquivo Inválido - Erro 0212");
        const QJsonObject file = error["unreadable_file"].toObject();
        EXPECT_EQ(file["path"].toString(), path);
        EXPECT_EQ(file["number"].toInt(), number);
        EXPECT_EQ(file["reason"].toString(), reason);
    }

    // A corrupt file reads fine: nothing is said of reading it.
    const QString corrupt = dir_.write("corrompido.slv", "isto não é uma assinatura");
    const QJsonObject error =
        runJson(corrupt, cli::exit_status::kVerificationFailed)["error"].toObject();
    EXPECT_EQ(error["caption"].toString(), "Arquivo Inválido - Erro 0212");
    EXPECT_TRUE(error["unreadable_file"].isNull());
    EXPECT_EQ(run({corrupt}), cli::exit_status::kVerificationFailed);
    EXPECT_FALSE(out_.contains("Não foi possível ler")) << out_.toStdString();
}

TEST_F(VerifyCommandTest, TextReportDrawsTheTreeIndented)
{
    const QString path = locacao();
    EXPECT_EQ(run({path}), 0);
    EXPECT_TRUE(out_.contains("\nCertificados e Assinaturas\n")) << out_.toStdString();
    EXPECT_TRUE(out_.contains("\n  FULANA DE TAL  [Certificado ICP-Brasil - Válido]\n"));
    EXPECT_TRUE(out_.contains("\n    Cpf/Cnpj: 987.654.321-00\n"));
    EXPECT_TRUE(out_.contains("\n      Autoridade Certificadora Raiz Brasileira v5\n"));
    // The claimed signing time is not called a time-stamp where real ones are told.
    EXPECT_TRUE(out_.contains(QRegularExpression(
        R"re(\n    Data declarada pelo signatário: \d\d/\d\d/\d{4} \d\d:\d\d:\d\d [-+]\d\d:\d\d )re"
        R"re(— \d\d/\d\d/\d{4} \d\d:\d\d:\d\d UTC \(não comprovada\)\n)re")))
        << out_.toStdString();
    EXPECT_FALSE(out_.contains("Carimbo de Tempo"));
}

TEST_F(VerifyCommandTest, ExtractWritesTheOriginalAndRefusesToOverwriteWithoutForce)
{
    const QString path = locacao();
    const QString target = dir_.filePath("locacao.pdf");
    EXPECT_EQ(run({"--extract", target, path}), 0) << err_.toStdString();
    EXPECT_EQ(ScratchFolder::read(target), bytes(kContent));

    const QString existing = dir_.filePath("existente.pdf");
    fx::writeFile(existing.toStdString(), "anterior");
    EXPECT_EQ(run({"--extract", existing, path}), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já existe"));
    EXPECT_EQ(ScratchFolder::read(existing), QByteArray("anterior"));

    EXPECT_EQ(run({"--extract=" + existing, "--force", path}), 0);
    EXPECT_EQ(ScratchFolder::read(existing), bytes(kContent));

    EXPECT_EQ(run({"--extract", dir_.filePath("falta/x.pdf"), path}),
              cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("Não foi possível gravar")) << err_.toStdString();
}

TEST_F(VerifyCommandTest, ExtractionDuringHashingLeavesNothingWhenVerificationFails)
{
    fx::MessageSpec spec = icpSpec();
    spec.content = std::string(3 * 1024 * 1024, 'c') + "fim";
    const fx::Bytes message = fx::makeSignedMessage(spec);
    QDir out(dir_.filePath("saida"));
    ASSERT_TRUE(out.mkpath("."));
    const QString target = out.filePath("nada.pdf");
    const auto present = [&out] {
        return out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };

    const QString tampered = dir_.write("x.slv", fx::tamperContent(message, "fim"));
    EXPECT_EQ(run({"--extract", target, tampered}), cli::exit_status::kVerificationFailed);
    EXPECT_TRUE(present().isEmpty()) << present().join(' ').toStdString();

    const QString good = dir_.write("y.slv", message);
    EXPECT_EQ(run({"--extract", target, good}), 0) << err_.toStdString();
    EXPECT_EQ(ScratchFolder::read(target), bytes(spec.content));
    EXPECT_EQ(present(), QStringList{"nada.pdf"});
}

TEST_F(VerifyCommandTest, ExtractionNeverWritesThroughALinkPlantedAtThePath)
{
    const QString path = locacao();
    const QString victim = dir_.filePath("de-outro-usuario.txt");
    auto plant = [&](const QString& link, const QString& target) {
        QFile::remove(link);
        fx::writeFile(victim.toStdString(), "dados de outra pessoa");
        // As root, the victim belongs to another user, as in a shared folder.
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(QFile::encodeName(victim).constData(), 4242, 4242), 0);
        }
        ASSERT_TRUE(QFile::link(target, link));
    };
    auto victimBytes = [&] { return ScratchFolder::read(victim); };
    const QString link = dir_.filePath("saida.pdf");

    plant(link, victim);
    EXPECT_EQ(run({"--extract", link, path}), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já existe")) << err_.toStdString();
    EXPECT_EQ(victimBytes(), "dados de outra pessoa");

    // A dangling link counts as something there too, and is never followed.
    plant(link, dir_.filePath("ainda-nao-existe.txt"));
    EXPECT_EQ(run({"--extract", link, path}), cli::exit_status::kCannotWrite);
    EXPECT_FALSE(QFile::exists(dir_.filePath("ainda-nao-existe.txt")));

    // --force replaces the link itself.
    plant(link, victim);
    EXPECT_EQ(run({"--extract", link, "--force", path}), 0) << err_.toStdString();
    EXPECT_EQ(victimBytes(), "dados de outra pessoa");
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ScratchFolder::read(link), bytes(kContent));
}

TEST_F(VerifyCommandTest, TheRealProgramReadsTheSystemStoreFromTheEnvironment)
{
    const QString path = locacao();
    QProcess program;
    program.setProcessEnvironment(storeHolding(fx::icpBrasilHierarchy().root));
    program.start(SELAVIA_VERIFY_BINARY, {"--json", path});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    QJsonObject report = QJsonDocument::fromJson(program.readAllStandardOutput()).object();
    EXPECT_EQ(report["signers"].toArray()[0].toObject()["class"].toString(), "cert_valid");
}

namespace {

using selavia::testing::HttpReply;

// A hierarchy whose signer names a distribution point on the test's server.
struct OnlineDocument {
    fx::Cert root;
    fx::Cert authority;
    fx::Cert signer;
    fx::Bytes message;
};

OnlineDocument onlineDocument(const selavia::testing::HttpTestServer& server)
{
    OnlineDocument made;
    made.root = fx::makeCertificate({.subject = {{"CN", "Raiz da Linha de Comando"}},
                                     .key = fx::makeKey(fx::KeyType::EcP256, true),
                                     .ca = true});
    made.authority = fx::makeCertificate({.subject = {{"CN", "AC da Linha de Comando"}},
                                          .issuer = &made.root,
                                          .key = fx::makeKey(fx::KeyType::EcP256, true),
                                          .ca = true});
    made.signer = fx::makeCertificate(
        {.subject = {{"CN", "BELTRANA"}},
         .issuer = &made.authority,
         .extensions = {{"crlDistributionPoints", "URI:" + server.url("/ac.crl")}}});
    fx::MessageSpec spec;
    spec.signers = {{.cert = made.signer}};
    spec.extraCertificates = {made.authority};
    made.message = fx::makeSignedMessage(spec);
    return made;
}

} // namespace

TEST_F(VerifyCommandTest, RevocationIsReportedPerSignerAndPerChainCertificate)
{
    selavia::testing::HttpTestServer server;
    const OnlineDocument online = onlineDocument(server);
    server.route(
        "/ac.crl",
        HttpReply{.body = fx::crlDer(fx::makeCrl({.issuer = &online.authority,
                                                  .revoked = {online.signer},
                                                  .revocationDate = fx::utc(2026, 1, 2, 3, 4, 5),
                                                  .reason = 1})
                                         .get())});
    const QString path = dir_.write("revogado.slv", online.message);
    sig::TrustStore store = sig::TrustStore::empty();
    store.addTrusted(QByteArray::fromStdString(online.root.der()));
    selavia::revocation::Settings settings;
    settings.cacheFolder = dir_.filePath("cache");
    const selavia::verify::LoadOptions options(store, settings);

    // Offline first: nothing asked, the status unknown.
    EXPECT_EQ(run({"--offline", "--json", path}, options), cli::exit_status::kNotAllValid);
    QJsonObject report = json();
    EXPECT_EQ(server.total(), 0);
    EXPECT_TRUE(report["offline"].toBool());
    EXPECT_TRUE(QDateTime::fromString(report["checked_at"].toString(), Qt::ISODate).isValid());
    QJsonObject signer = report["signers"].toArray()[0].toObject();
    EXPECT_EQ(signer["revocation"].toObject(),
              (QJsonObject{{"status", "unknown"},
                           {"source", QJsonValue::Null},
                           {"revoked_at", QJsonValue::Null},
                           {"this_update", QJsonValue::Null},
                           {"next_update", QJsonValue::Null},
                           {"detail", "não consultada na rede, e nem o arquivo nem a cópia "
                                      "local têm a lista"}}));
    EXPECT_EQ(signer["class"].toString(), "cert_noicp_valid");

    EXPECT_EQ(run({"--json", path}, options), cli::exit_status::kNotAllValid);
    report = json();
    EXPECT_FALSE(report["offline"].toBool());
    signer = report["signers"].toArray()[0].toObject();
    EXPECT_EQ(signer["class"].toString(), "cert_noicp_invalid");
    const QJsonObject revocation = signer["revocation"].toObject();
    EXPECT_EQ(revocation["status"].toString(), "revoked");
    EXPECT_EQ(revocation["source"].toString(), "download");
    EXPECT_EQ(revocation["revoked_at"].toString(), "2026-01-02T03:04:05Z");
    // The list was made an hour ago, due again in a week.
    const QDateTime issued =
        QDateTime::fromString(revocation["this_update"].toString(), Qt::ISODate);
    const QDateTime due = QDateTime::fromString(revocation["next_update"].toString(), Qt::ISODate);
    EXPECT_TRUE(revocation["this_update"].toString().endsWith('Z'));
    EXPECT_NEAR(issued.secsTo(QDateTime::currentDateTimeUtc()), 3600, 120);
    EXPECT_EQ(issued.secsTo(due), 7 * 24 * 3600 + 3600);
    const QJsonArray chain = signer["chain_status"].toArray();
    ASSERT_EQ(chain.size(), 3);
    EXPECT_EQ(chain[0].toObject()["subject"].toString(), "CN=BELTRANA");
    EXPECT_EQ(chain[0].toObject()["thumbprint"].toString(), signer["thumbprint"].toString());
    EXPECT_TRUE(chain[0].toObject()["problems"].toArray()[0].toString().contains(
        "revogado em 02/01/2026 00:04:05 -03:00"));
    EXPECT_EQ(chain[1].toObject()["revocation"].toObject()["status"].toString(), "unknown");
    EXPECT_EQ(chain[2].toObject()["revocation"].toObject()["status"].toString(), "good");
    EXPECT_TRUE(chain[2].toObject()["revocation"].toObject()["source"].isNull());

    EXPECT_EQ(run({path}, options), 1);
    EXPECT_TRUE(out_.contains("\nSituação de revogação, consultada em ")) << out_.toStdString();
    // The list fetched by the run before answers from the cache.
    EXPECT_TRUE(
        out_.contains("\nConsulta à rede: permitida, mas nenhuma consulta foi necessária\n"))
        << out_.toStdString();
    EXPECT_TRUE(out_.contains("\n    BELTRANA: Revogado em 02/01/2026 00:04:05 -03:00 (motivo: "
                              "comprometimento da chave)\n"))
        << out_.toStdString();
    EXPECT_TRUE(out_.contains("\n    AC da Linha de Comando: Desconhecida: "));
}

TEST_F(VerifyCommandTest, TwoProgramsFillTheCacheAtOnce)
{
    selavia::testing::HttpTestServer server;
    const OnlineDocument online = onlineDocument(server);
    // Held back so that both programs are fetching at the same time.
    server.route("/ac.crl", HttpReply{.body = fx::crlDer(fx::makeCrl(online.authority, {}).get()),
                                      .delayMs = 300});
    const QString path = dir_.write("documento.slv", online.message);
    QProcessEnvironment environment = storeHolding(online.root);
    environment.insert("SELAVIA_CACHE_DIR", dir_.filePath("cache"));
    environment.insert("SELAVIA_CACHE_KEY", dir_.filePath("cache-key"));
    auto start = [&](QProcess& program, const QStringList& arguments) {
        program.setProcessEnvironment(environment);
        program.start(SELAVIA_VERIFY_BINARY, arguments);
    };
    auto sourceOf = [](QProcess& program) {
        EXPECT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), 1) << program.readAllStandardError().toStdString();
        const QJsonObject report =
            QJsonDocument::fromJson(program.readAllStandardOutput()).object();
        return report["signers"].toArray()[0].toObject()["revocation"].toObject()["source"];
    };
    QProcess first;
    QProcess second;
    start(first, {"--json", path});
    start(second, {"--json", path});
    EXPECT_EQ(sourceOf(first).toString(), "download");
    EXPECT_EQ(sourceOf(second).toString(), "download");
    EXPECT_EQ(server.count("/ac.crl"), 2);

    QProcess third;
    start(third, {"--json", "--offline", path});
    EXPECT_EQ(sourceOf(third).toString(), "cache");
    EXPECT_EQ(server.count("/ac.crl"), 2);
    EXPECT_TRUE(QDir(dir_.filePath("cache"))
                    .entryList(QDir::Files | QDir::Hidden)
                    .filter(".part-")
                    .isEmpty());
}

namespace {

const fx::Cert& actDeTeste()
{
    static const fx::Cert tsa =
        fx::makeTsa(fx::icpBrasilHierarchy().intermediate, fx::TsaUsage::TimeStamping,
                    std::time(nullptr) - 4 * kYear, std::time(nullptr) + kYear);
    return tsa;
}

fx::Bytes cadesMessage(const fx::Cert& signer, std::vector<fx::AttributeSpec> attributes,
                       std::optional<std::time_t> signingTime = fx::utc(2026, 1, 2, 3, 4, 5))
{
    fx::MessageSpec spec = icpMessage(signer, {}, kContent);
    spec.signers[0].signingTime = signingTime;
    spec.signers[0].attributes = std::move(attributes);
    return fx::makeSignedMessage(spec);
}

// The bundled lists' next update has passed: every listed policy says so.
const QString kExpiredList = "lista de políticas expirada em 10/09/2025";

// The policies before 2025 admit RSA keys only.
fx::Cert rsaSigner()
{
    return icpSigner("FULANO DE TAL:98765432100", "12345678901", 0, 0, fx::KeyType::Rsa2048);
}

QJsonObject onlySignerOf(const QJsonObject& report)
{
    return report["signers"].toArray()[0].toObject();
}

} // namespace

TEST_F(VerifyCommandTest, JsonTellsTheTimeStampTheValidityAtItsTimeThePolicyAndCounterSignatures)
{
    // Expired a year ago; signed, time-stamped and counter-signed while it was valid.
    const std::time_t now = std::time(nullptr);
    const fx::Cert signer = icpSigner("FULANO DE TAL:12345678901", "12345678901", now - 3 * kYear,
                                      now - kYear, fx::KeyType::Rsa2048);
    const fx::Cert notary =
        fx::issueEndEntity(fx::icpBrasilHierarchy().intermediate, "TABELIAO DE NOTAS");
    const std::time_t genTime = now - 2 * kYear;
    fx::Bytes message = cadesMessage(
        signer, {fx::signingCertificateV2(signer), bundledPolicyAttribute("2.16.76.1.7.1.1.2.3")});
    message = fx::withTimeStamp(message, 0, {.tsa = actDeTeste(), .genTime = genTime});
    message = fx::withCounterSignature(message, 0, {.cert = notary, .signingTime = genTime + 60});
    const QJsonObject signerJson =
        onlySignerOf(runJson(dir_.write("cades.slv", message), cli::exit_status::kNotAllValid));

    EXPECT_EQ(signerJson["class"].toString(), "cert_invalid") << "expired now";
    EXPECT_EQ(signerJson["valid_at_timestamp"], QJsonValue(true));
    const QString time = QDateTime::fromSecsSinceEpoch(genTime, Qt::UTC).toString(Qt::ISODate);
    QJsonObject token = signerJson["timestamp"].toObject();
    // A token is judged as a signature of its own.
    expectMembers(token, R"j({"verdict": "Aprovado", "indication": "TOTAL-PASSED", "reasons": [],)j"
                         R"j("subindication": null, "sub_indication": null, "warnings": []})j");
    for (const char* member :
         {"verdict", "indication", "subindication", "sub_indication", "reasons", "warnings"})
        token.remove(member);
    // The TSA's path, judged at the token's time, each with its revocation.
    const QJsonArray tsaChain = token.take("tsa_chain_status").toArray();
    ASSERT_GE(tsaChain.size(), 2);
    EXPECT_TRUE(tsaChain[0].toObject()["subject"].toString().contains("ACT de Teste"));
    for (const QJsonValue& link : tsaChain)
        EXPECT_TRUE(link.toObject()["revocation"].toObject().contains("this_update"));
    EXPECT_EQ(
        token,
        (QJsonObject{
            {"valid", true}, {"time", time}, {"tsa", "ACT de Teste"}, {"problems", QJsonArray()}}));
    EXPECT_EQ(signerJson["best_signature_time_source"].toString(), "timestamp");
    EXPECT_EQ(signerJson["policy"].toObject(),
              (QJsonObject{{"oid", "2.16.76.1.7.1.1.2.3"},
                           {"name", "AD-RB v2.3"},
                           {"conforms", true},
                           {"problems", QJsonArray{kExpiredList}},
                           {"checked",
                            QJsonArray{"período de uso e revogação da política", "hash da política",
                                       "atributos obrigatórios", "algoritmo e tamanho da chave"}},
                           {"not_checked", QJsonArray()}}));
    const QString counterTime =
        QDateTime::fromSecsSinceEpoch(genTime + 60, Qt::UTC).toString(Qt::ISODate);
    QJsonObject counter = signerJson["countersignatures"].toArray()[0].toObject();
    EXPECT_EQ(counter.take("verdict").toString(), "Indeterminado") << "revocation unknown";
    EXPECT_EQ(counter.take("reasons").toArray().size(), 1);
    EXPECT_EQ(counter.take("indication").toString(), "INDETERMINATE");
    EXPECT_EQ(counter.take("subindication").toString(), "TRY_LATER");
    EXPECT_EQ(counter.take("sub_indication").toString(), "TRY_LATER");
    EXPECT_EQ(counter.take("warnings"), QJsonArray());
    EXPECT_EQ(counter.take("level").toInt(), 1);
    // Its certificate's revocation and path, as a signer's.
    EXPECT_EQ(counter.take("revocation").toObject()["status"].toString(), "unknown");
    const QJsonArray counterChain = counter.take("chain_status").toArray();
    ASSERT_EQ(counterChain.size(), 3);
    EXPECT_TRUE(
        counterChain[0].toObject()["subject"].toString().startsWith("CN=TABELIAO DE NOTAS,"));
    EXPECT_EQ(counterChain[0].toObject()["revocation"].toObject()["status"].toString(), "unknown");
    EXPECT_EQ(counter, (QJsonObject{{"name", "TABELIAO DE NOTAS"},
                                    {"time", counterTime},
                                    {"valid", true},
                                    {"problems", QJsonArray()}}));
    EXPECT_EQ(signerJson["best_signature_time"].toString(), time) << "the token's";
    EXPECT_EQ(signerJson["warnings"].toArray(), QJsonArray{kExpiredList});
    EXPECT_EQ(signerJson["problems"].toArray(), QJsonArray());
}

TEST_F(VerifyCommandTest, JsonTellsPoliciesTheyBreakOrDoNotKnowAndASubstitutedCertificate)
{
    const fx::Cert signer = rsaSigner();
    const fx::Cert other = icpSigner("OUTRO:11122233344");
    const QString missingStamp = "atributo não assinado obrigatório ausente: carimbo do tempo da "
                                 "assinatura (signature-time-stamp)";
    struct Case {
        const char* name;
        std::vector<fx::AttributeSpec> attributes;
        QJsonValue policy;
        int status;
        QJsonArray problems;
    };
    const std::vector<Case> cases = {
        {"AD-RT without a token",
         {fx::signingCertificateV2(signer), bundledPolicyAttribute("2.16.76.1.7.1.2.2.3")},
         QJsonObject{
             {"oid", "2.16.76.1.7.1.2.2.3"},
             {"name", "AD-RT v2.3"},
             {"conforms", false},
             {"problems", QJsonArray{missingStamp, kExpiredList}},
             {"checked", QJsonArray{"período de uso e revogação da política", "hash da política",
                                    "atributos obrigatórios", "algoritmo e tamanho da chave"}},
             {"not_checked", QJsonArray()}},
         // A valid ICP-Brasil certificate, but the signature is Reprovado.
         cli::exit_status::kNotAllValid,
         {}},
        {"a policy outside ICP-Brasil",
         {fx::signingCertificateV2(signer), fx::signaturePolicyAttribute("1.3.6.1.4.1.99999.1")},
         QJsonObject{{"oid", "1.3.6.1.4.1.99999.1"},
                     {"name", ""},
                     // Nothing was found against it, but nothing was checked either.
                     {"conforms", false},
                     {"problems", QJsonArray{"política de assinatura fora da ICP-Brasil: regras "
                                             "não conferidas"}},
                     {"checked", QJsonArray()},
                     {"not_checked", QJsonArray{"regras da política (fora da ICP-Brasil)"}}},
         cli::exit_status::kSignaturesOk,
         {}},
        {"signing-certificate-v2 naming another",
         {fx::signingCertificateV2(other)},
         QJsonValue::Null,
         cli::exit_status::kNotAllValid,
         {"o certificado do signatário não é o indicado na assinatura"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QJsonObject report =
            runJson(dir_.write("politica.slv", cadesMessage(signer, c.attributes)), c.status);
        EXPECT_TRUE(report["verified"].toBool()) << "the file verifies as before";
        const QJsonObject signerJson = onlySignerOf(report);
        EXPECT_EQ(signerJson["policy"], c.policy);
        EXPECT_EQ(signerJson["problems"].toArray(), c.problems);
        EXPECT_EQ(signerJson["class"].toString(),
                  c.problems.isEmpty() ? "cert_valid" : "cert_invalid");
    }
}

TEST_F(VerifyCommandTest, WithoutCadesAttributesTheTreeIsTheSameToTheByte)
{
    const fx::Cert signer = rsaSigner();
    auto treeOf = [&](const fx::Bytes& message, int status = cli::exit_status::kSignaturesOk) {
        return runJson(dir_.write("arvore.slv", message), status)["tree"].toArray();
    };
    auto compact = [](const QJsonArray& tree) {
        return QJsonDocument(tree).toJson(QJsonDocument::Compact);
    };
    const fx::Bytes plain = cadesMessage(signer, {});
    const QJsonArray plainTree = treeOf(plain);
    // Signed CAdES attributes that hold leave the tree as it was.
    EXPECT_EQ(
        compact(treeOf(cadesMessage(signer, {fx::signingCertificateV2(signer),
                                             bundledPolicyAttribute("2.16.76.1.7.1.1.2.3")}))),
        compact(plainTree));
    // A token adds its one node after the signing time's, and nothing else changes.
    for (const std::optional<std::time_t>& signingTime :
         {std::optional<std::time_t>(fx::utc(2026, 1, 2, 3, 4, 5)), std::optional<std::time_t>()}) {
        const fx::Bytes unstamped = cadesMessage(signer, {}, signingTime);
        const QJsonArray before = treeOf(unstamped);
        QJsonArray after = treeOf(fx::withTimeStamp(
            unstamped, 0, {.tsa = actDeTeste(), .genTime = std::time(nullptr) - 60}));
        ASSERT_EQ(after.size(), before.size() + 1);
        const qsizetype at = signingTime ? 5 : 4; // Root, aChild1, ChildA1, ChildB1[, ChildC1]
        EXPECT_EQ(after[at].toObject()["key"].toString(), "ChildF1");
        EXPECT_TRUE(after[at].toObject()["text"].toString().startsWith("Carimbo do Tempo (ACT): "));
        EXPECT_EQ(after[at - 1].toObject()["key"].toString(), signingTime ? "ChildC1" : "ChildB1");
        after.removeAt(at);
        EXPECT_EQ(compact(after), compact(before));
    }
}

TEST_F(VerifyCommandTest, TheTextReportTellsTheCadesPiecesOnlyWhereThereAreAny)
{
    const fx::Cert signer = rsaSigner();
    EXPECT_EQ(run({dir_.write("simples.slv", cadesMessage(signer, {}))}), 0);
    EXPECT_FALSE(out_.contains("Carimbos do tempo")) << out_.toStdString();

    const std::time_t genTime = std::time(nullptr) - 3600;
    fx::Bytes message = cadesMessage(
        signer, {fx::signingCertificateV2(signer), bundledPolicyAttribute("2.16.76.1.7.1.1.2.3")});
    message = fx::withTimeStamp(message, 0, {.tsa = actDeTeste(), .genTime = genTime});
    EXPECT_EQ(run({dir_.write("cades.slv", message)}), 0) << err_.toStdString();
    const QString when =
        selavia::fileinfo::ZonedDateText(QDateTime::fromSecsSinceEpoch(genTime, Qt::UTC));
    EXPECT_TRUE(
        out_.contains("\nCarimbos do tempo, políticas e contra-assinaturas:\n  1. FULANO DE "
                      "TAL\n    Carimbo do Tempo (ACT): "))
        << out_.toStdString();
    EXPECT_TRUE(out_.contains("\n    Válido na data do carimbo do tempo (" + when + ")\n"))
        << out_.toStdString();
    EXPECT_TRUE(out_.contains("\n    Política de assinatura: AD-RB v2.3 (2.16.76.1.7.1.1.2.3) - "
                              "conforme; conferido: período de uso e revogação da política, hash "
                              "da política, atributos obrigatórios, algoritmo e tamanho da chave; "
                              "aviso: lista de políticas expirada em 10/09/2025\n"))
        << out_.toStdString();
}

namespace {

// A detached signature (.p7s) beside the document it signs.
struct DetachedPair {
    fx::Bytes content;
    fx::Bytes signature;
};

DetachedPair detachedPair(const fx::Bytes& content = kContent)
{
    fx::MessageSpec spec = icpMessage(icpSigner(), {}, content);
    spec.detached = true;
    return {content, fx::makeSignedMessage(spec)};
}

} // namespace

TEST_F(VerifyCommandTest, ContentVerifiesADetachedSignatureOverTheDocumentGiven)
{
    const DetachedPair pair = detachedPair();
    const QString document = dir_.write("contrato.pdf", pair.content);
    const QString signature = dir_.write("contrato.pdf.p7s", pair.signature);

    EXPECT_EQ(run({"--json", "--content", document, signature}), 0) << err_.toStdString();
    const QJsonObject report = json();
    EXPECT_EQ(report["file"].toString(), signature);
    EXPECT_EQ(report["original_name"].toString(), "contrato.pdf") << "named after the document";
    EXPECT_TRUE(report["has_extension"].toBool());
    EXPECT_EQ(report["content_size"].toInteger(), static_cast<qint64>(pair.content.size()));
    EXPECT_EQ(report["content_sha256"].toString(),
              QCryptographicHash::hash(bytes(pair.content), QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(report["signers"].toArray()[0].toObject()["class"].toString(), "cert_valid");

    EXPECT_EQ(run({"--content=" + document, signature}), 0);
    EXPECT_TRUE(out_.contains("\nDocumento original: contrato.pdf\n")) << out_.toStdString();

    // Without --content the detached signature is what it always was.
    const QJsonObject alone = runJson(signature, cli::exit_status::kVerificationFailed);
    EXPECT_EQ(alone["error"].toObject()["code_text"].toString(),
              sig::signedDecimalText(sig::code::kDetachedContent));
}

TEST_F(VerifyCommandTest, ContentThatIsNotWhatWasSignedFails)
{
    const DetachedPair pair = detachedPair();
    const QString signature = dir_.write("assinatura.p7s", pair.signature);
    const QString attached = dir_.write("anexo.slv", fx::makeSignedMessage(icpSpec()));
    struct Case {
        const char* name;
        QString document;
        QString signature;
        QString codeText;
    };
    const std::vector<Case> cases = {
        {"a changed document", dir_.write("alterado.pdf", fx::tamperContent(pair.content, "loca")),
         signature, sig::signedDecimalText(sig::code::kHashMismatch)},
        {"another document", dir_.write("outro.pdf", "%PDF-1.4 outro documento"), signature,
         sig::signedDecimalText(sig::code::kHashMismatch)},
        {"a missing document", dir_.filePath("nao-existe.pdf"), signature,
         sig::signedDecimalText(sig::code::kContentUnreadable)},
        {"a signature that holds its document", dir_.write("qualquer.pdf", pair.content), attached,
         sig::signedDecimalText(sig::code::kContentNotDetached)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = dir_.filePath("extraido.pdf");
        EXPECT_EQ(run({"--json", "--content", c.document, "--extract", target, c.signature}),
                  cli::exit_status::kVerificationFailed);
        const QJsonObject report = json();
        EXPECT_FALSE(report["verified"].toBool());
        EXPECT_EQ(report["error"].toObject()["code_text"].toString(), c.codeText);
        // Only the document that is not there is told as a file not read.
        const QJsonValue unreadable = report["error"].toObject()["unreadable_file"];
        EXPECT_EQ(unreadable.toObject()["path"].toString(),
                  c.codeText == sig::signedDecimalText(sig::code::kContentUnreadable) ? c.document
                                                                                      : QString());
        EXPECT_FALSE(QFile::exists(target)) << "nothing extracted";
    }
    EXPECT_EQ(run({"--content", "", signature}), cli::exit_status::kUsage);
    EXPECT_TRUE(err_.contains("--content precisa de um documento.")) << err_.toStdString();
}

TEST_F(VerifyCommandTest, ContentWithExtractWritesTheVerifiedDocumentStreamed)
{
    // Several blocks of the verifying read.
    const DetachedPair pair = detachedPair(std::string(3 * 1024 * 1024 + 17, 'p') + "fim");
    const QString document = dir_.write("grande.bin", pair.content);
    const QString signature = dir_.write("grande.bin.p7s", pair.signature);
    const QString target = dir_.filePath("copia.bin");
    EXPECT_EQ(run({"--content", document, "--extract", target, signature}), 0)
        << err_.toStdString();
    EXPECT_EQ(ScratchFolder::read(target), bytes(pair.content));
    EXPECT_TRUE(out_.contains("Documento original: grande.bin\n")) << out_.toStdString();
}

TEST_F(VerifyCommandTest, ACounterSignatureThatFailsIsReprovadoAndTheFileExitsOne)
{
    const fx::Cert signer = icpSigner();
    const fx::Cert notary =
        fx::issueEndEntity(fx::icpBrasilHierarchy().intermediate, "TABELIAO DE NOTAS");
    const fx::Bytes message = fx::withCounterSignature(cadesMessage(signer, {}), 0,
                                                       {.cert = notary, .tamperSignature = true});
    const QJsonObject report =
        runJson(dir_.write("contra.slv", message), cli::exit_status::kNotAllValid);
    EXPECT_TRUE(report["verified"].toBool());
    EXPECT_EQ(report["verdict"].toString(), "Reprovado");
    EXPECT_EQ(report["indication"].toString(), "TOTAL-FAILED");
    const QJsonObject signerJson = onlySignerOf(report);
    EXPECT_EQ(signerJson["class"].toString(), "cert_valid") << "the signer itself is fine";
    const QJsonObject counter = signerJson["countersignatures"].toArray()[0].toObject();
    EXPECT_FALSE(counter["valid"].toBool());
    EXPECT_EQ(counter["verdict"].toString(), "Reprovado");
    EXPECT_FALSE(counter["reasons"].toArray().isEmpty());
}

TEST_F(VerifyCommandTest, JsonTellsTheContentAndArchiveTimeStamps)
{
    const std::time_t now = std::time(nullptr);
    fx::MessageSpec spec = icpSpec();
    spec.signers[0].attributes.push_back(
        fx::contentTimeStampAttribute(spec.content, {.tsa = actDeTeste(), .genTime = now - 120}));
    const fx::Bytes message = fx::withArchiveTimeStampV2(
        fx::makeSignedMessage(spec), 0, {.tsa = actDeTeste(), .genTime = now - 60});
    const QJsonObject signerJson = onlySignerOf(
        runJson(dir_.write("arquivado.slv", message), cli::exit_status::kSignaturesOk));
    const auto utcText = [](std::time_t when) {
        return QDateTime::fromSecsSinceEpoch(when, Qt::UTC).toString(Qt::ISODate);
    };
    const QJsonArray archives = signerJson["archive_timestamps"].toArray();
    ASSERT_EQ(archives.size(), 1);
    expectMembers(archives[0].toObject(),
                  R"j({"valid": true, "tsa": "ACT de Teste", "problems": [],)j"
                  R"j("verdict": "Aprovado", "indication": "TOTAL-PASSED", "reasons": []})j");
    EXPECT_EQ(archives[0].toObject()["time"].toString(), utcText(now - 60));
    EXPECT_EQ(signerJson["best_signature_time_source"].toString(), "archive-timestamp");
    EXPECT_EQ(signerJson["best_signature_time"].toString(), utcText(now - 60));
    const QJsonObject content = signerJson["content_timestamp"].toObject();
    expectMembers(content, R"j({"valid": true, "tsa": "ACT de Teste", "verdict": "Aprovado"})j");
    EXPECT_EQ(content["time"].toString(), utcText(now - 120));
}

TEST_F(VerifyCommandTest, APdfIsReportedWithItsSignaturesRevisionsAndChanges)
{
    namespace pdfx = fx::pdf;
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::SignSpec spec;
    spec.signer = {.cert = icpSigner()};
    spec.chain = {icp.intermediate, icp.root};
    pdfx::DssSpec dss;
    for (const auto& crl : carriedCrls())
        dss.crls.push_back(fx::crlDer(crl.get()));
    const pdfx::Pdf base = pdfx::makeDocument();
    const pdfx::Pdf signedFile = pdfx::addDss(pdfx::sign(base, spec), dss);
    const QString good = dir_.write("contrato.pdf", signedFile.bytes);
    const QString changed = dir_.write("alterado.pdf", pdfx::addPage(signedFile).bytes);
    const QString plain = dir_.write("simples.pdf", base.bytes);

    EXPECT_EQ(run({"--json", good}, trustingIcp()), cli::exit_status::kSignaturesOk)
        << err_.toStdString();
    QJsonObject report = QJsonDocument::fromJson(out_.toUtf8()).object();
    EXPECT_EQ(report["format"].toString(), "pdf");
    EXPECT_EQ(report["verdict"].toString(), "Aprovado");
    EXPECT_EQ(
        report["pdf"].toObject(),
        (QJsonObject{{"revisions", 3}, {"certification_level", QJsonValue::Null}, {"dss", true}}));
    const QJsonArray signatures = report["signatures"].toArray();
    ASSERT_EQ(signatures.size(), 1);
    QJsonObject signature = signatures[0].toObject();
    const QStringList members = {"index",
                                 "field",
                                 "kind",
                                 "sub_filter",
                                 "byte_range",
                                 "revision",
                                 "covers_whole_document",
                                 "intact",
                                 "modified_after_signing",
                                 "modification_allowed",
                                 "changes",
                                 "trust_framework",
                                 "signer",
                                 "page"};
    for (const QString& member : members)
        EXPECT_TRUE(signature.contains(member)) << member.toStdString();
    EXPECT_EQ(signature["kind"].toString(), "signature");
    EXPECT_EQ(signature["byte_range"].toArray().size(), 4);
    EXPECT_TRUE(signature["intact"].toBool());
    EXPECT_EQ(signature["signer"].toObject(), report["signers"].toArray()[0].toObject());
    EXPECT_EQ(signature["changes"].toArray()[0].toObject()["kind"].toString(), "dss");

    EXPECT_EQ(run({"--json", changed}, trustingIcp()), cli::exit_status::kNotAllValid);
    report = QJsonDocument::fromJson(out_.toUtf8()).object();
    signature = report["signatures"].toArray()[0].toObject();
    EXPECT_EQ(report["verdict"].toString(), "Reprovado");
    EXPECT_FALSE(signature["modification_allowed"].toBool(true));
    EXPECT_EQ(signature["changes"].toArray().last().toObject(),
              (QJsonObject{{"revision", 4},
                           {"kind", "pages"},
                           {"allowed", false},
                           {"detail", "árvore de páginas alterada (páginas incluídas, removidas ou "
                                      "reordenadas)"}}));

    EXPECT_EQ(run({"--json", plain}, trustingIcp()), cli::exit_status::kVerificationFailed);
    report = QJsonDocument::fromJson(out_.toUtf8()).object();
    EXPECT_EQ(report["format"].toString(), "pdf");
    EXPECT_EQ(report["verdict"].toString(), "Indeterminado");
    run({plain}, trustingIcp());
    EXPECT_TRUE(out_.contains("o documento PDF não contém assinaturas")) << out_.toStdString();
}

// The signed file's own hash, from the verifying read, and each signer's
// times in UTC beside their display texts.
TEST_F(VerifyCommandTest, JsonGivesTheSignedFileHashAndUtcTimes)
{
    const fx::Cert signer = icpSigner("CICLANO:12345678901", "12345678901", fx::utc(2024, 1, 2),
                                      fx::utc(2034, 1, 2, 3, 4, 5));
    fx::MessageSpec spec = icpMessage(signer, "contrato.pdf");
    spec.signers[0].signingTime = fx::utc(2024, 5, 14, 18, 24, 39);
    const fx::Bytes message = fx::makeSignedMessage(spec);
    const QString path = dir_.write("datas.slv", message);
    const QJsonObject report = runJson(path, cli::exit_status::kSignaturesOk);
    EXPECT_EQ(report["file_sha256"].toString(),
              QCryptographicHash::hash(bytes(message), QCryptographicHash::Sha256).toHex());
    const QJsonObject first = report["signers"].toArray()[0].toObject();
    expectMembers(first, R"j({"signing_time_utc": "2024-05-14T18:24:39Z",)j"
                         R"j("valid_from_utc": "2024-01-02T00:00:00Z",)j"
                         R"j("valid_to_utc": "2034-01-02T03:04:05Z"})j");
    for (const char* display : {"signing_time", "valid_from", "valid_to"})
        EXPECT_FALSE(first[display].toString().isEmpty()) << display;

    // Without the attribute, and for a file that could not be read.
    spec.signers[0].signingTime = std::nullopt;
    const QJsonObject untimed = runJson(dir_.write("sem-data.slv", fx::makeSignedMessage(spec)),
                                        cli::exit_status::kSignaturesOk);
    EXPECT_TRUE(untimed["signers"].toArray()[0].toObject()["signing_time_utc"].isNull());
    const QJsonObject missing =
        runJson(dir_.filePath("nao-existe.slv"), cli::exit_status::kVerificationFailed);
    EXPECT_TRUE(missing.contains("file_sha256"));
    EXPECT_TRUE(missing["file_sha256"].isNull());
}

// An Aprovado that is not all ICP-Brasil says so beside the verdict.
TEST_F(VerifyCommandTest, TheTextVerdictSaysWhyAnAprovadoIsNotAllIcpBrasil)
{
    const fx::Cert root =
        fx::makeCertificate({.subject = {{"CN", "Raiz Estrangeira"}}, .ca = true});
    const fx::Cert signer = fx::makeCertificate({.subject = {{"CN", "JOHN DOE"}}, .issuer = &root});
    fx::MessageSpec foreign;
    foreign.content = kContent;
    foreign.signers = {{.cert = signer}};
    foreign.extraCertificates = {root};
    foreign.crls = {fx::makeCrl({.issuer = &root})};
    struct Case {
        const char* what;
        QString path;
        sig::TrustStore store;
        int status;
        QString verdictLine;
    };
    const std::vector<Case> cases = {
        {"foreign", dir_.write("estrangeiro.slv", fx::makeSignedMessage(foreign)),
         storeTrusting({&root}), cli::exit_status::kNotAllValid,
         "Resultado: Aprovado (assinatura válida; o signatário não é ICP-Brasil)"},
        {"ICP-Brasil",
         dir_.write("icp.slv", fx::makeSignedMessage(withCrls(icpMessage(icpSigner())))),
         trustingIcp(), cli::exit_status::kSignaturesOk, "Resultado: Aprovado"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run({c.path}, c.store), c.status) << err_.toStdString();
        EXPECT_TRUE(out_.contains("\n" + c.verdictLine + "\n")) << out_.toStdString();
    }
}
