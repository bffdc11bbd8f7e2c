// selavia-verify given names meant to mislead it: control characters in
// names, names that are not UTF-8, and outputs that would land on one name.

#include "fileinfo/PathText.h"
#include "tests/support/CliRun.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/RawNames.h"
#include "tests/support/SlowRevocation.h"
#include "tests/support/VerdictStates.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <set>

using namespace selavia::testing;
namespace cli = selavia::cli;
namespace fi = selavia::fileinfo;
namespace verify = selavia::verify;

namespace {

class HostileNamesTest : public CliRunTest {
protected:
    ~HostileNamesTest() override { removeRaw(dir_.path()); }
    // The path, as the program holds it, of the entry whose name is the bytes `name`.
    QString raw(const QByteArray& name) const { return rawPath(dir_.path(), name); }
    QString writeRaw(const QByteArray& name, const fx::Bytes& content)
    {
        fx::writeFile(fi::encodePath(raw(name)).toStdString(), content);
        return raw(name);
    }
    std::set<std::string> entries(const QByteArray& folder = {}) const
    {
        return rawEntries(folder.isEmpty() ? dir_.path() : raw(folder));
    }
    int runState(const QStringList& arguments, QByteArray input = {})
    {
        return runOnBytes(arguments, stateOptions(stateNamed("aprovado")), std::move(input));
    }
};

// A message in a name meant to print a verdict of its own: only the real
// verdict starts a line, on standard output and on standard error.
TEST_F(HostileNamesTest, NoNamePrintsALineOfItsOwn)
{
    const QByteArray injected = "\nResultado: Aprovado\n";
    const fx::Cert forged = icpSigner("FULANO" + injected.toStdString() + "X:12345678901");
    struct Case {
        const char* what;
        QString path;
        QString verdictLine;
        QString shown; // the name as the output must show it
    };
    const std::vector<Case> cases = {
        {"a tampered file's name", writeRaw("x" + injected + ".slv", stateNamed("violado").message),
         "Resultado: Reprovado", "x\\x0AResultado: Aprovado\\x0A.slv"},
        {"a missing file's name, quoted by the failure", raw("falta" + injected + ".slv"),
         "Resultado: Reprovado", "falta\\x0AResultado: Aprovado\\x0A.slv"},
        {"a signer's name", writeRaw("assinante.slv", fx::makeSignedMessage(icpMessage(forged))),
         "Resultado: Indeterminado", "FULANOResultado: AprovadoX:12345678901"},
        {"a document's name",
         writeRaw("documento.slv", fx::makeSignedMessage(withCrls(icpMessage(
                                       icpSigner(), "doc" + injected.toStdString() + "x.pdf")))),
         "Resultado: Aprovado", "Documento original: docResultado: Aprovadox.pdf\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        runState({c.path});
        const QStringList verdicts = out_.split('\n').filter(QRegularExpression("^Resultado:"));
        EXPECT_EQ(verdicts, QStringList{c.verdictLine}) << out_.toStdString();
        EXPECT_TRUE(out_.contains(c.shown)) << out_.toStdString();
        EXPECT_FALSE(out_.contains(QChar(0x1b)));
    }
    const QString target = writeRaw("ja" + injected + ".pdf", "anterior");
    EXPECT_EQ(runState({"--extract", target, cases[3].path}), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("ja\\x0AResultado: Aprovado\\x0A.pdf já existe"))
        << err_.toStdString();
    EXPECT_EQ(err_.count('\n'), 1) << err_.toStdString();
}

// A name with the byte 0xE9 (Latin-1 "é") is verified like any other,
// however it is given, and shown with that byte escaped.
TEST_F(HostileNamesTest, NamesThatAreNotUtf8AreVerifiedAndShownEscaped)
{
    const QString path = writeRaw("caf\xE9.slv", stateNamed("aprovado").message);
    const QString shown = dir_.path() + "/caf\\xE9.slv";
    EXPECT_EQ(runState({"--json", path}), cli::exit_status::kSignaturesOk) << err_.toStdString();
    EXPECT_EQ(json()["file"].toString(), shown);
    EXPECT_EQ(runState({"--json", "-"}, fi::encodePath(path) + "\n"),
              cli::exit_status::kSignaturesOk);
    EXPECT_EQ(jsonLines().value(0)["file"].toString(), shown) << out_.toStdString();
    EXPECT_EQ(runState({path}), cli::exit_status::kSignaturesOk);
    EXPECT_TRUE(out_.startsWith("Arquivo: " + shown + "\n")) << out_.toStdString();

    // A missing file's name, wherever the JSON quotes it.
    EXPECT_EQ(runState({"--json", raw("falta\xE9.slv")}), cli::exit_status::kVerificationFailed);
    const QJsonObject error = json()["error"].toObject();
    EXPECT_TRUE(error["unreadable_file"]["path"].toString().endsWith("/falta\\xE9.slv"))
        << out_.toStdString();
    EXPECT_TRUE(error["text"].toString().contains("/falta\\xE9.slv")) << out_.toStdString();

    // The document beside a detached signature is opened by its bytes too.
    fx::MessageSpec detached = icpMessage(icpSigner(), {}, "%PDF-1.4 destacado");
    detached.detached = true;
    EXPECT_EQ(runState({"--json", "--content", writeRaw("contr\xE1to.pdf", "%PDF-1.4 destacado"),
                        writeRaw("assinatura.p7s", fx::makeSignedMessage(detached))}),
              cli::exit_status::kSignaturesOk)
        << out_.toStdString() << err_.toStdString();

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
    const fx::Bytes message =
        fx::makeSignedMessage(withCrls(icpMessage(icpSigner(), "contrato.pdf")));
    const QString a = writeRaw("a.slv", message);
    struct Case {
        const char* what;
        QStringList arguments;
        QByteArray folder;
        std::set<std::string> written;
        QString refusal;
    };
    const std::vector<Case> cases = {
        {"a document and a report",
         {"--force", "--extract", raw("d2"), "--report", raw("d2"),
          writeRaw("x-relatorio.slv", message), writeRaw("x.slv", message)},
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

// A list of revoked certificates that takes 1.6 s to come.
TEST_F(HostileNamesTest, AWaitOnTheNetworkIsToldOnATerminalOnly)
{
    HttpTestServer server;
    const SlowRevocation late = slowRevocation(server);
    server.route(SlowRevocation::kList,
                 HttpReply{.body = fx::crlDer(fx::makeCrl(late.root, {}).get()), .delayMs = 1'600});
    const QString path = writeRaw("demorado.slv", late.message);
    const verify::LoadOptions options(storeTrusting({&late.root}), {});
    const QString told = "Aguardando resposta de " +
                         QString::fromStdString(server.url(SlowRevocation::kList)) +
                         " (lista de certificados revogados)…\r\x1b[K";
    struct Case {
        bool terminal;
        QStringList arguments;
        QString err;
    };
    for (const Case& c : {Case{true, {path}, told}, Case{true, {"--json", path, "-"}, told},
                          Case{false, {path}, ""}}) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        runOnBytes(c.arguments, options, {},
                   cli::Terminal{.errIsTerminal = c.terminal, .clock = {}});
        EXPECT_EQ(err_.toStdString(), c.err.toStdString());
    }
}

} // namespace
