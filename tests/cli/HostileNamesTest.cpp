// selavia-verify given names and lists meant to mislead it: control
// characters in names, names that are not UTF-8, outputs that would land on
// one name, and standard input that never ends.

#include "fileinfo/PathText.h"
#include "tests/support/CliRun.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PdfText.h"
#include "tests/support/RawNames.h"
#include "tests/support/VerdictStates.h"
#include "tools/fixtures/CadesFixtures.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <set>

using namespace selavia::testing;
namespace cli = selavia::cli;
namespace fi = selavia::fileinfo;
namespace revocation = selavia::revocation;
namespace verify = selavia::verify;

namespace {

class HostileNamesTest : public CliRunTest {
protected:
    ~HostileNamesTest() override { removeRaw(dir_.path()); }
    // `bytes` written under the name whose bytes are `name`; its path as the
    // program holds it.
    QString writeRaw(const QByteArray& name, const fx::Bytes& content)
    {
        const QString path = raw(name);
        fx::writeFile(fi::encodePath(path).toStdString(), content);
        return path;
    }
    QString raw(const QByteArray& name) const { return rawPath(dir_.path(), name); }
    std::set<std::string> entries(const QByteArray& folder = {}) const
    {
        return rawEntries(folder.isEmpty() ? dir_.path() : raw(folder));
    }
    int runState(const QStringList& arguments, QByteArray input = {})
    {
        return runOnBytes(arguments, stateOptions(stateNamed("aprovado")), std::move(input));
    }
    static QStringList linesStartingWith(const QString& text, const QString& prefix)
    {
        QStringList found;
        for (const QString& line : text.split('\n')) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    }
};

// A message in a name meant to print a verdict of its own: only the real
// verdict starts a line.
TEST_F(HostileNamesTest, NoNamePrintsALineOfItsOwn)
{
    const QByteArray injected = "\nResultado: Aprovado\n";
    const fx::Cert forged = icpSigner("FULANO" + injected.toStdString() + "X:12345678901");
    struct Case {
        const char* what;
        QString path;
        verify::LoadOptions options;
        QString verdictLine;
        QString shown; // the name as the output must show it
    };
    const std::vector<Case> cases = {
        {"a tampered file's name", writeRaw("x" + injected + ".slv", stateNamed("violado").message),
         stateOptions(stateNamed("violado")), "Resultado: Reprovado",
         "x\\x0AResultado: Aprovado\\x0A.slv"},
        {"a missing file's name, quoted by the failure", raw("falta" + injected + ".slv"),
         stateOptions(stateNamed("aprovado")), "Resultado: Reprovado",
         "falta\\x0AResultado: Aprovado\\x0A.slv"},
        {"a signer's name", writeRaw("assinante.slv", fx::makeSignedMessage(icpMessage(forged))),
         stateOptions(stateNamed("aprovado")), "Resultado: Indeterminado",
         "FULANOResultado: AprovadoX:12345678901"},
        {"a document's name",
         writeRaw("documento.slv", fx::makeSignedMessage(withCrls(icpMessage(
                                       icpSigner(), "doc" + injected.toStdString() + "x.pdf")))),
         stateOptions(stateNamed("aprovado")), "Resultado: Aprovado",
         "Documento original: docResultado: Aprovadox.pdf\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        runOnBytes({c.path}, c.options, {});
        EXPECT_EQ(linesStartingWith(out_, "Resultado:"), QStringList{c.verdictLine})
            << out_.toStdString();
        EXPECT_TRUE(out_.contains(c.shown)) << out_.toStdString();
        EXPECT_FALSE(out_.contains(QChar(0x1b)));
    }
}

TEST_F(HostileNamesTest, MessagesOnStandardErrorEscapeNamesToo)
{
    const QString file = writeRaw("a.slv", stateNamed("aprovado").message);
    const QString target = writeRaw("ja\nResultado: Aprovado\n.pdf", "anterior");
    EXPECT_EQ(runState({"--extract", target, file}), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("ja\\x0AResultado: Aprovado\\x0A.pdf já existe"))
        << err_.toStdString();
    EXPECT_EQ(err_.count('\n'), 1) << err_.toStdString();
}

// A name with the byte 0xE9 (Latin-1 "é") is verified like any other,
// however it is given, and shown with that byte escaped.
TEST_F(HostileNamesTest, NamesThatAreNotUtf8AreVerifiedAndShownEscaped)
{
    const QByteArray name = "caf\xE9.slv";
    const QString path = writeRaw(name, stateNamed("aprovado").message);
    const QString shown = fi::encodePath(dir_.path()) + "/caf\\xE9.slv";
    struct Case {
        const char* what;
        QStringList arguments;
        QByteArray input;
    };
    const std::vector<Case> cases = {
        {"argument", {"--json", path}, {}},
        {"standard input", {"--json", "-"}, fi::encodePath(path) + "\n"},
        {"argument among others", {"--json", path, path}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(runState(c.arguments, c.input), cli::exit_status::kSignaturesOk)
            << out_.toStdString() << err_.toStdString();
        // One file alone is one indented object; a list, one object a line.
        const QList<QJsonObject> lines =
            c.input.isEmpty() && c.arguments.size() == 2 ? QList<QJsonObject>{json()} : jsonLines();
        ASSERT_FALSE(lines.isEmpty()) << out_.toStdString();
        EXPECT_EQ(lines[0]["verified"], true) << out_.toStdString();
        EXPECT_EQ(lines[0]["file"].toString(), shown);
    }
    EXPECT_EQ(runState({path}), cli::exit_status::kSignaturesOk);
    EXPECT_TRUE(out_.startsWith("Arquivo: " + shown + "\n")) << out_.toStdString();

    // A missing file's name, wherever the JSON quotes it.
    EXPECT_EQ(runState({"--json", raw("falta\xE9.slv")}), cli::exit_status::kVerificationFailed);
    const QJsonObject error = json()["error"].toObject();
    EXPECT_TRUE(error["unreadable_file"]["path"].toString().endsWith("/falta\\xE9.slv"))
        << out_.toStdString();
    EXPECT_TRUE(error["text"].toString().contains("/falta\\xE9.slv")) << out_.toStdString();

    // The document of a detached signature is read by its bytes too.
    fx::MessageSpec detached = icpMessage(icpSigner(), {}, "%PDF-1.4 destacado");
    detached.detached = true;
    const QString signature = writeRaw("assinatura.p7s", fx::makeSignedMessage(detached));
    const QString document = writeRaw("contr\xE1to.pdf", "%PDF-1.4 destacado");
    EXPECT_EQ(runState({"--json", "--content", document, signature}),
              cli::exit_status::kSignaturesOk)
        << err_.toStdString();
    EXPECT_EQ(json()["verified"], true) << out_.toStdString();
    runState({"--content", document, signature});
    EXPECT_TRUE(out_.contains("\nVerificação: documento íntegro")) << out_.toStdString();

    // Written under names that are not UTF-8 either, byte for byte.
    EXPECT_EQ(runState({"--extract",
                        raw("sa\xED"
                            "da.pdf"),
                        "--report", raw("rel\xE1t.pdf"), path}),
              cli::exit_status::kSignaturesOk)
        << err_.toStdString();
    EXPECT_EQ(runState({"--extract", raw("docs\xE7"), "--report", raw("docs\xE7"), path,
                        writeRaw("b.slv", stateNamed("aprovado").message)}),
              cli::exit_status::kSignaturesOk)
        << err_.toStdString();
    EXPECT_EQ(entries(), (std::set<std::string>{"caf\xE9.slv",
                                                "sa\xED"
                                                "da.pdf",
                                                "rel\xE1t.pdf", "docs\xE7", "b.slv",
                                                "assinatura.p7s", "contr\xE1to.pdf"}));
    EXPECT_EQ(entries("docs\xE7"), (std::set<std::string>{"caf\xE9.pdf", "caf\xE9-relatorio.pdf",
                                                          "b.pdf", "b-relatorio.pdf"}));
}

// Outputs of one run that would share a name: the first keeps it, the
// other is refused, told, and the run exits 73, --force or not.
TEST_F(HostileNamesTest, NoTwoOutputsOfARunShareAName)
{
    const auto message = [](const std::string& documentName) {
        return fx::makeSignedMessage(withCrls(icpMessage(icpSigner(), documentName)));
    };
    const QString a = writeRaw("a.slv", message("contrato.pdf"));
    const QString aPdf = writeRaw("a.pdf.slv", message("contrato"));
    const QString xReport = writeRaw("x-relatorio.slv", message("contrato.pdf"));
    const QString x = writeRaw("x.slv", message("contrato.pdf"));
    struct Case {
        const char* what;
        QStringList arguments;
        QByteArray folder;
        std::set<std::string> written;
        QString refusal;
    };
    const std::vector<Case> cases = {
        {"two documents",
         {"--force", "--extract", raw("d1"), a, aPdf},
         "d1",
         {"a.pdf"},
         "Não foi gravado o documento original de "},
        {"a document and a report",
         {"--force", "--extract", raw("d2"), "--report", raw("d2"), xReport, x},
         "d2",
         {"x-relatorio.pdf", "x.pdf", "x-relatorio-relatorio.pdf"},
         "Não foi gravado o "},
        {"one file's document and report",
         {"--force", "--extract", raw("d3/um.pdf"), "--report", raw("d3/um.pdf"), a},
         "d3",
         {"um.pdf"},
         "Não foi gravado o relatório de " + a + ": " + raw("d3/um.pdf") +
             " já é o documento original de " + a + " nesta execução.\n"},
    };
    ASSERT_TRUE(fi::MakeFolders(raw("d3")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(runState(c.arguments), cli::exit_status::kCannotWrite) << err_.toStdString();
        EXPECT_EQ(entries(c.folder), c.written);
        EXPECT_EQ(err_.count("Não foi gravado"), 1) << err_.toStdString();
        EXPECT_TRUE(err_.contains(c.refusal)) << err_.toStdString();
    }
    // The one file's document is the document, not the report over it.
    EXPECT_EQ(ScratchFolder::read(raw("d3/um.pdf")), QByteArray("%PDF-1.4 conteudo do contrato"));
}

// The real program on a list that is still being written: the first
// result is out before the list ends.
TEST_F(HostileNamesTest, StandardInputIsVerifiedAsItComes)
{
    const QString first = writeRaw("primeiro.slv", stateNamed("aprovado").message);
    QProcess program;
    QProcessEnvironment environment = storeHolding(fx::icpBrasilHierarchy().root);
    environment.insert("SELAVIA_OFFLINE", "1");
    program.setProcessEnvironment(environment);
    program.start(SELAVIA_VERIFY_BINARY, {"--json", "-"});
    ASSERT_TRUE(program.waitForStarted());
    program.write(fi::encodePath(first) + "\n");
    ASSERT_TRUE(program.waitForReadyRead(20'000)) << "nothing before standard input ended";
    QByteArray out = program.readAllStandardOutput();
    while (!out.endsWith('\n') && program.waitForReadyRead(20'000))
        out += program.readAllStandardOutput();
    EXPECT_EQ(QJsonDocument::fromJson(out).object()["file"].toString(), first);
    program.write(fi::encodePath(first) + "\n");
    program.closeWriteChannel();
    ASSERT_TRUE(program.waitForFinished(60'000));
    EXPECT_EQ(program.exitCode(), cli::exit_status::kSignaturesOk);
    EXPECT_EQ((out + program.readAllStandardOutput()).count('\n'), 2);
}

// A signer whose list of revoked certificates takes a while to come.
struct LateList {
    fx::Cert root;
    fx::Bytes message;
    std::string url;
};

LateList lateList(HttpTestServer& server, int delayMs)
{
    LateList late;
    late.root = fx::makeCertificate({.subject = {{"CN", "Raiz Demorada"}}, .ca = true});
    late.url = server.url("/demorada.crl");
    const fx::Cert signer =
        fx::makeCertificate({.subject = {{"CN", "SIGNATARIO DEMORADO"}},
                             .issuer = &late.root,
                             .extensions = {{"crlDistributionPoints", "URI:" + late.url}}});
    server.route("/demorada.crl", HttpReply{.body = fx::crlDer(fx::makeCrl(late.root, {}).get()),
                                            .delayMs = delayMs});
    fx::MessageSpec spec = icpMessage(signer, "contrato.pdf");
    spec.extraCertificates = {late.root};
    late.message = fx::makeSignedMessage(spec);
    return late;
}

TEST_F(HostileNamesTest, AWaitOnTheNetworkIsToldOnATerminalOnly)
{
    HttpTestServer server;
    const LateList late = lateList(server, 1'600);
    const QString path = writeRaw("demorado.slv", late.message);
    revocation::Settings online;
    const verify::LoadOptions options(storeTrusting({&late.root}), online);
    const QString told = "Aguardando resposta de " + QString::fromStdString(late.url) +
                         " (lista de certificados revogados)…";
    struct Case {
        const char* what;
        bool terminal;
        QStringList arguments;
        QString err;
    };
    const std::vector<Case> cases = {
        {"terminal", true, {path}, told + "\r\x1b[K"},
        {"terminal, a list", true, {"--json", path, "-"}, told + "\r\x1b[K"},
        {"not a terminal", false, {path}, ""},
        {"terminal, offline", true, {"--offline", path}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cli::Terminal terminal;
        terminal.errIsTerminal = c.terminal;
        runOnBytes(c.arguments, options, {}, terminal);
        EXPECT_EQ(err_.toStdString(), c.err.toStdString());
    }
}

} // namespace
