#include "cli/VerifyCommand.h"

#include "cli/ReportSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PdfText.h"
#include "tests/support/VerdictStates.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace selavia::testing;
namespace cli = selavia::cli;

namespace {

const fx::Bytes kContent = "%PDF-1.4 contrato de locação";

class VerifyCommandTest : public ::testing::Test {
protected:
    QString writeMessage(const QString& name, const fx::Bytes& message)
    {
        return dir_.write(name, message);
    }

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

    int run(const QStringList& arguments, const selavia::verify::LoadOptions& store,
            QString input = {})
    {
        out_.clear();
        err_.clear();
        QTextStream out(&out_);
        QTextStream err(&err_);
        QTextStream in(&input);
        return cli::runVerifyCommand(arguments, out, err, store, &in, cli::pdfReports());
    }

    QJsonObject runJson(const QString& path, int expectedStatus, const sig::TrustStore& store)
    {
        EXPECT_EQ(run({"--json", path}, store), expectedStatus) << err_.toStdString();
        QJsonParseError parseError{};
        QJsonDocument document = QJsonDocument::fromJson(out_.toUtf8(), &parseError);
        EXPECT_EQ(parseError.error, QJsonParseError::NoError) << out_.toStdString();
        return document.object();
    }

    ScratchFolder dir_;
    QString out_;
    QString err_;
};

const QStringList kMembers = {"file",          "verified",      "error",        "signatures_ok",
                              "original_name", "has_extension", "content_size", "content_sha256",
                              "signers",       "tree",          "checked_at",   "offline",
                              "verdict"};

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
        EXPECT_EQ(run(arguments, trustingIcp()), cli::exit_status::kUsage)
            << arguments.join(' ').toStdString();
        EXPECT_TRUE(err_.contains("Uso: selavia-verify")) << err_.toStdString();
        EXPECT_TRUE(out_.isEmpty());
    }
    EXPECT_EQ(run({"--help"}, trustingIcp()), 0);
    EXPECT_TRUE(out_.contains("--extract CAMINHO"));
    EXPECT_TRUE(out_.contains("--offline"));
}

TEST_F(VerifyCommandTest, JsonOfAValidIcpDocumentHasEveryMember)
{
    const QString path = writeMessage("locacao.slv", fx::makeSignedMessage(icpSpec()));
    QJsonObject report = runJson(path, cli::exit_status::kSignaturesOk, trustingIcp());
    EXPECT_EQ(report.keys().size(), kMembers.size());
    for (const QString& member : kMembers)
        EXPECT_TRUE(report.contains(member)) << member.toStdString();
    EXPECT_EQ(report["file"].toString(), path);
    EXPECT_TRUE(report["verified"].toBool());
    EXPECT_TRUE(report["error"].isNull());
    EXPECT_TRUE(report["signatures_ok"].toBool());
    EXPECT_EQ(report["original_name"].toString(), "locacao.pdf");
    EXPECT_TRUE(report["has_extension"].toBool());
    EXPECT_EQ(report["content_size"].toInteger(), static_cast<qint64>(kContent.size()));
    EXPECT_EQ(
        report["content_sha256"].toString(),
        QCryptographicHash::hash(QByteArray::fromStdString(kContent), QCryptographicHash::Sha256)
            .toHex());

    const QJsonArray signers = report["signers"].toArray();
    ASSERT_EQ(signers.size(), 1);
    const QJsonObject signer = signers[0].toObject();
    EXPECT_EQ(signer["index"].toInt(), 1);
    EXPECT_EQ(signer["holder_name"].toString(), "FULANA DE TAL");
    EXPECT_EQ(signer["identity"].toString(), "987.654.321-00");
    EXPECT_EQ(signer["class"].toString(), "cert_valid");
    EXPECT_EQ(signer["timestamp_origin"].toString(), "(LOCAL)");
    EXPECT_EQ(signer["version"].toInt(), 3);
    EXPECT_EQ(signer["chain"].toArray().size(), 3);
    EXPECT_EQ(signer["chain"].toArray()[2].toString(),
              "Autoridade Certificadora Raiz Brasileira v5");
    EXPECT_EQ(signer.keys().size(), 17);

    const QJsonArray tree = report["tree"].toArray();
    ASSERT_FALSE(tree.isEmpty());
    EXPECT_EQ(tree[0].toObject()["key"].toString(), "Root");
    EXPECT_TRUE(tree[0].toObject()["parent"].isNull());
    EXPECT_EQ(tree[1].toObject()["parent"].toString(), "Root");
    EXPECT_EQ(tree[1].toObject()["image"].toString(), "cert_valid");
    EXPECT_TRUE(tree[1].toObject()["expanded"].toBool());
}

TEST_F(VerifyCommandTest, ExitStatusTellsValidUntrustedAndFailed)
{
    const fx::MessageSpec spec = icpSpec();
    const fx::Bytes message = fx::makeSignedMessage(spec);
    const QString good = writeMessage("bom.slv", message);
    EXPECT_EQ(run({good}, trustingIcp()), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(run({good}, sig::TrustStore::empty()), cli::exit_status::kNotAllValid);
    EXPECT_TRUE(out_.contains("Certificado ICP-Brasil - Inválido")) << out_.toStdString();

    const QString tampered = writeMessage("violado.slv", fx::tamperContent(message, spec.content));
    QJsonObject report = runJson(tampered, cli::exit_status::kVerificationFailed, trustingIcp());
    EXPECT_FALSE(report["verified"].toBool());
    const QJsonObject error = report["error"].toObject();
    EXPECT_EQ(error["code_text"].toString(), "-2146889721");
    EXPECT_EQ(error["caption"].toString(), "Documento Violado - Erro 1717");
    EXPECT_TRUE(error["text"].toString().endsWith("\r\nHash incorreto."));
    EXPECT_FALSE(report["signatures_ok"].toBool());
    EXPECT_FALSE(report["has_extension"].toBool());
    EXPECT_EQ(report["original_name"].toString(), "");
    EXPECT_TRUE(report["content_size"].isNull());
    EXPECT_TRUE(report["content_sha256"].isNull());
    EXPECT_TRUE(report["signers"].toArray().isEmpty());
    EXPECT_TRUE(report["tree"].toArray().isEmpty());
    EXPECT_EQ(report.keys().size(), kMembers.size());
}

TEST_F(VerifyCommandTest, TextReportDrawsTheTreeIndented)
{
    const QString path = writeMessage("locacao.slv", fx::makeSignedMessage(icpSpec()));
    EXPECT_EQ(run({path}, trustingIcp()), 0);
    EXPECT_TRUE(out_.contains("\nCertificados e Assinaturas\n")) << out_.toStdString();
    EXPECT_TRUE(out_.contains("\n  FULANA DE TAL  [Certificado ICP-Brasil - Válido]\n"));
    EXPECT_TRUE(out_.contains("\n    Cpf/Cnpj: 987.654.321-00\n"));
    EXPECT_TRUE(out_.contains("\n      Autoridade Certificadora Raiz Brasileira v5\n"));
}

TEST_F(VerifyCommandTest, ExtractWritesTheOriginalAndRefusesToOverwriteWithoutForce)
{
    const QString path = writeMessage("locacao.slv", fx::makeSignedMessage(icpSpec()));
    const QString target = dir_.filePath("locacao.pdf");
    EXPECT_EQ(run({"--extract", target, path}, trustingIcp()), 0) << err_.toStdString();
    QFile extracted(target);
    ASSERT_TRUE(extracted.open(QIODevice::ReadOnly));
    EXPECT_EQ(extracted.readAll(), QByteArray::fromStdString(kContent));
    extracted.close();

    const QString existing = dir_.filePath("existente.pdf");
    fx::writeFile(existing.toStdString(), "anterior");
    EXPECT_EQ(run({"--extract", existing, path}, trustingIcp()), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já existe"));
    QFile kept(existing);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("anterior"));
    kept.close();

    EXPECT_EQ(run({"--extract=" + existing, "--force", path}, trustingIcp()), 0);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray::fromStdString(kContent));

    EXPECT_EQ(run({"--extract", dir_.filePath("falta/x.pdf"), path}, trustingIcp()),
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

    const QString tampered = writeMessage("x.slv", fx::tamperContent(message, "fim"));
    EXPECT_EQ(run({"--extract", target, tampered}, trustingIcp()),
              cli::exit_status::kVerificationFailed);
    EXPECT_TRUE(out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        << out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
               .join(' ')
               .toStdString();

    const QString good = writeMessage("y.slv", message);
    EXPECT_EQ(run({"--extract", target, good}, trustingIcp()), 0) << err_.toStdString();
    QFile extracted(target);
    ASSERT_TRUE(extracted.open(QIODevice::ReadOnly));
    EXPECT_EQ(extracted.readAll(), QByteArray::fromStdString(spec.content));
    EXPECT_EQ(out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"nada.pdf"});
}

TEST_F(VerifyCommandTest, ExtractionNeverWritesThroughALinkPlantedAtThePath)
{
    const QString path = writeMessage("locacao.slv", fx::makeSignedMessage(icpSpec()));
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
    auto victimBytes = [&] {
        QFile file(victim);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QString link = dir_.filePath("saida.pdf");

    plant(link, victim);
    EXPECT_EQ(run({"--extract", link, path}, trustingIcp()), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já existe")) << err_.toStdString();
    EXPECT_EQ(victimBytes(), "dados de outra pessoa");

    // A dangling link counts as something there too, and is never followed.
    plant(link, dir_.filePath("ainda-nao-existe.txt"));
    EXPECT_EQ(run({"--extract", link, path}, trustingIcp()), cli::exit_status::kCannotWrite);
    EXPECT_FALSE(QFile::exists(dir_.filePath("ainda-nao-existe.txt")));

    // --force replaces the link itself.
    plant(link, victim);
    EXPECT_EQ(run({"--extract", link, "--force", path}, trustingIcp()), 0) << err_.toStdString();
    EXPECT_EQ(victimBytes(), "dados de outra pessoa");
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    QFile extracted(link);
    ASSERT_TRUE(extracted.open(QIODevice::ReadOnly));
    EXPECT_EQ(extracted.readAll(), QByteArray::fromStdString(kContent));
}

TEST_F(VerifyCommandTest, TheRealProgramReadsTheSystemStoreFromTheEnvironment)
{
    const QString path = writeMessage("locacao.slv", fx::makeSignedMessage(icpSpec()));
    const QString root = dir_.filePath("raiz.pem");
    fx::writeFile(root.toStdString(), fx::icpBrasilHierarchy().root.pem());
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SSL_CERT_FILE", root);
    environment.insert("SSL_CERT_DIR", dir_.filePath("nenhum"));
    program.setProcessEnvironment(environment);
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
    const QString path = writeMessage("revogado.slv", online.message);
    sig::TrustStore store = sig::TrustStore::empty();
    store.addTrusted(QByteArray::fromStdString(online.root.der()));
    selavia::revocation::Settings settings;
    settings.cacheFolder = dir_.filePath("cache");

    // Offline first: nothing asked, the status unknown.
    EXPECT_EQ(run({"--offline", "--json", path}, selavia::verify::LoadOptions(store, settings)),
              cli::exit_status::kNotAllValid);
    QJsonObject report = QJsonDocument::fromJson(out_.toUtf8()).object();
    EXPECT_EQ(server.total(), 0);
    EXPECT_TRUE(report["offline"].toBool());
    EXPECT_TRUE(QDateTime::fromString(report["checked_at"].toString(), Qt::ISODate).isValid());
    QJsonObject signer = report["signers"].toArray()[0].toObject();
    EXPECT_EQ(signer["revocation"].toObject(),
              (QJsonObject{{"status", "unknown"},
                           {"source", QJsonValue::Null},
                           {"revoked_at", QJsonValue::Null},
                           {"detail", "não foi possível consultar a situação de revogação"}}));
    EXPECT_EQ(signer["class"].toString(), "cert_noicp_valid");

    EXPECT_EQ(run({"--json", path}, selavia::verify::LoadOptions(store, settings)),
              cli::exit_status::kNotAllValid);
    report = QJsonDocument::fromJson(out_.toUtf8()).object();
    EXPECT_FALSE(report["offline"].toBool());
    signer = report["signers"].toArray()[0].toObject();
    EXPECT_EQ(signer["class"].toString(), "cert_noicp_invalid");
    const QJsonObject revocation = signer["revocation"].toObject();
    EXPECT_EQ(revocation["status"].toString(), "revoked");
    EXPECT_EQ(revocation["source"].toString(), "download");
    EXPECT_EQ(revocation["revoked_at"].toString(), "2026-01-02T03:04:05Z");
    const QJsonArray chain = signer["chain_status"].toArray();
    ASSERT_EQ(chain.size(), 3);
    EXPECT_EQ(chain[0].toObject()["subject"].toString(), "CN=BELTRANA");
    EXPECT_EQ(chain[0].toObject()["thumbprint"].toString(), signer["thumbprint"].toString());
    EXPECT_TRUE(chain[0].toObject()["problems"].toArray()[0].toString().contains(
        "revogado em 02/01/2026 03:04:05 UTC"));
    EXPECT_EQ(chain[1].toObject()["revocation"].toObject()["status"].toString(), "unknown");
    EXPECT_EQ(chain[2].toObject()["revocation"].toObject()["status"].toString(), "good");
    EXPECT_TRUE(chain[2].toObject()["revocation"].toObject()["source"].isNull());

    EXPECT_EQ(run({path}, selavia::verify::LoadOptions(store, settings)), 1);
    EXPECT_TRUE(out_.contains("\nSituação de revogação (consultada em ")) << out_.toStdString();
    EXPECT_TRUE(out_.contains(
        "\n    BELTRANA: Revogado em 02/01/2026 03:04:05 UTC (motivo: comprometimento da chave)\n"))
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
    const QString path = writeMessage("documento.slv", online.message);
    const QString root = dir_.filePath("raiz.pem");
    fx::writeFile(root.toStdString(), online.root.pem());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SSL_CERT_FILE", root);
    environment.insert("SSL_CERT_DIR", dir_.filePath("nenhum"));
    environment.insert("SELAVIA_CACHE_DIR", dir_.filePath("cache"));
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
