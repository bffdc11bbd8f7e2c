#include "tests/support/CliRun.h"
#include "tests/support/PdfText.h"
#include "tests/support/VerdictStates.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>
#include <map>
#include <string>

using namespace selavia::testing;
namespace cli = selavia::cli;
namespace verify = selavia::verify;

namespace {

const std::map<verify::Verdict, QString> kIndications = {
    {verify::Verdict::Approved, "TOTAL-PASSED"},
    {verify::Verdict::Indeterminate, "INDETERMINATE"},
    {verify::Verdict::Rejected, "TOTAL-FAILED"},
};

const QString kReprovado = "Resultado da verificação Reprovado";

// The codes of a JSON list of reasons, each of which must have a text.
QStringList codesOf(const QJsonValue& reasons)
{
    QStringList codes;
    for (const QJsonValue& reason : reasons.toArray()) {
        codes << reason["code"].toString();
        EXPECT_FALSE(reason["text"].toString().isEmpty());
    }
    return codes;
}

class ManyFilesTest : public CliRunTest {
protected:
    // The state's file, written as "<name>.slv" (in `folder` when given).
    QString file(const char* name, const QString& folder = {})
    {
        const VerdictState& state = stateNamed(name);
        const QString relative =
            (folder.isEmpty() ? QString() : folder + "/") + QString::fromLatin1(name) + ".slv";
        QDir(dir_.path()).mkpath(QFileInfo(dir_.filePath(relative)).path());
        return dir_.write(relative, state.message);
    }

    // The states' files are made for a store trusting the ICP-like root.
    int run(const QStringList& arguments, QString input = {})
    {
        return CliRunTest::run(arguments, stateOptions(stateNamed("aprovado")), input);
    }

    // A report without the times of its check: the check's own, and each
    // unstamped signer's best signature time, which is that time.
    static QJsonObject withoutCheckTimes(QJsonObject report)
    {
        EXPECT_TRUE(report.contains("checked_at"));
        report.remove("checked_at");
        QJsonArray signers = report["signers"].toArray();
        for (QJsonValueRef signer : signers) {
            QJsonObject entry = signer.toObject();
            if (entry["best_signature_time_source"].toString() == "check")
                entry.remove("best_signature_time");
            signer = entry;
        }
        report["signers"] = signers;
        return report;
    }

    // What a single-file run prints as JSON, but when it was checked.
    QJsonObject single(const QString& path)
    {
        run({"--json", path});
        return withoutCheckTimes(json());
    }

    QStringList entries(const QString& folder) const
    {
        return QDir(dir_.filePath(folder)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};
} // namespace

TEST_F(ManyFilesTest, JsonLinesComeInTheGivenOrderEachAsASingleRunPrintsIt)
{
    const QStringList files = {file("violado"), file("aprovado"), file("revogacao-desconhecida"),
                               file("revogado"), file("aprovado", "outra")};
    QList<QJsonObject> expected;
    for (const QString& path : files)
        expected << single(path);

    EXPECT_EQ(run(QStringList{"--json"} + files), cli::exit_status::kVerificationFailed)
        << "the highest of 2, 0, 0, 1, 0";
    const QList<QJsonObject> lines = jsonLines();
    ASSERT_EQ(lines.size(), files.size()) << out_.toStdString();
    for (qsizetype n = 0; n < files.size(); ++n) {
        EXPECT_EQ(withoutCheckTimes(lines[n]), expected[n]) << files[n].toStdString();
    }
    EXPECT_EQ(out_.count('\n'), files.size()) << "one line per file";
}

TEST_F(ManyFilesTest, TheTextReportPrintsOneBlockPerFileAndTheStatusIsTheHighest)
{
    const QStringList files = {file("aprovado"), file("expirado-sem-carimbo"),
                               file("aprovado", "b")};
    EXPECT_EQ(run(files), cli::exit_status::kNotAllValid);
    const QStringList blocks = out_.split("\n\nArquivo: ");
    ASSERT_EQ(blocks.size(), 3) << out_.toStdString();
    EXPECT_TRUE(blocks[0].startsWith("Arquivo: " + files[0] + "\n"));
    EXPECT_TRUE(blocks[1].startsWith(files[1] + "\n"));
    EXPECT_TRUE(blocks[1].contains("\nResultado: Indeterminado\n  - O certificado estava expirado "
                                   "na data de referência e não há carimbo do tempo válido que "
                                   "prove a assinatura antes disso. [expired-no-timestamp]\n"))
        << blocks[1].toStdString();
    EXPECT_TRUE(blocks[2].startsWith(files[2] + "\n"));

    EXPECT_EQ(run({file("aprovado"), file("aprovado", "c")}), cli::exit_status::kSignaturesOk);
}

TEST_F(ManyFilesTest, AFileThatFailsNeverStopsTheOthers)
{
    const QString missing = dir_.filePath("nao-existe.slv");
    const QStringList files = {file("aprovado"), missing, file("violado"),
                               file("revogacao-desconhecida")};
    EXPECT_EQ(run(QStringList{"--json", "--report", dir_.filePath("relatorios")} + files),
              cli::exit_status::kVerificationFailed)
        << err_.toStdString();
    const QList<QJsonObject> lines = jsonLines();
    ASSERT_EQ(lines.size(), 4);
    const QStringList verdicts = {"Aprovado", "Reprovado", "Reprovado", "Indeterminado"};
    for (qsizetype n = 0; n < files.size(); ++n) {
        EXPECT_EQ(lines[n]["file"].toString(), files[n]);
        EXPECT_EQ(lines[n]["verdict"].toString(), verdicts[n]) << files[n].toStdString();
    }
    EXPECT_EQ(entries("relatorios"),
              QStringList({"aprovado-relatorio.pdf", "nao-existe-relatorio.pdf",
                           "revogacao-desconhecida-relatorio.pdf", "violado-relatorio.pdf"}));
    EXPECT_TRUE(pdfText(dir_.filePath("relatorios/nao-existe-relatorio.pdf")).contains(kReprovado));
}

TEST_F(ManyFilesTest, DashReadsPathsFromStandardInputInItsPlace)
{
    const QString first = file("aprovado");
    const QString second = file("revogacao-desconhecida");
    const QString third = file("revogado");
    EXPECT_EQ(run({"--json", third, "-"}, first + "\r\n\n" + second + "\n"),
              cli::exit_status::kNotAllValid);
    const QList<QJsonObject> lines = jsonLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0]["file"].toString(), third);
    EXPECT_EQ(lines[1]["file"].toString(), first);
    EXPECT_EQ(lines[2]["file"].toString(), second);

    // "-" alone is a list too, even of one path: JSON Lines, folders.
    EXPECT_EQ(run({"--json", "-"}, first), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(out_.count('\n'), 1) << out_.toStdString();
}

TEST_F(ManyFilesTest, ReportAndExtractTakeFoldersAndNeverReplaceWithoutForce)
{
    const QStringList files = {file("aprovado"), file("revogado"), file("violado")};
    const QStringList arguments = {"--report", dir_.filePath("rel"), "--extract",
                                   dir_.filePath("docs")};
    EXPECT_EQ(run(arguments + files), cli::exit_status::kVerificationFailed) << err_.toStdString();
    EXPECT_EQ(entries("rel"), QStringList({"aprovado-relatorio.pdf", "revogado-relatorio.pdf",
                                           "violado-relatorio.pdf"}));
    // Named after the signed file, with the original's extension; nothing
    // of a file that failed.
    EXPECT_EQ(entries("docs"), QStringList({"aprovado.pdf", "revogado.pdf"}));
    EXPECT_EQ(ScratchFolder::read(dir_.filePath("docs/aprovado.pdf")),
              QByteArray("%PDF-1.4 conteudo do contrato"));
    EXPECT_TRUE(pdfText(dir_.filePath("rel/revogado-relatorio.pdf")).contains(kReprovado));

    // Again: every file is there already.
    const QByteArray before = ScratchFolder::read(dir_.filePath("rel/aprovado-relatorio.pdf"));
    EXPECT_EQ(run(arguments + files), cli::exit_status::kCannotWrite);
    EXPECT_EQ(err_.count("já existe"), 5) << err_.toStdString();
    EXPECT_EQ(ScratchFolder::read(dir_.filePath("rel/aprovado-relatorio.pdf")), before);
    fx::writeFile(dir_.filePath("rel/aprovado-relatorio.pdf").toStdString(), "anterior");
    EXPECT_EQ(run(QStringList{"--force"} + arguments + files),
              cli::exit_status::kVerificationFailed)
        << err_.toStdString();
    EXPECT_TRUE(ScratchFolder::read(dir_.filePath("rel/aprovado-relatorio.pdf")).startsWith("%PDF"))
        << "replaced by a report of this run";

    // Two files of one name: the second writes nothing, even with --force.
    const QString twin = file("aprovado", "gemeo");
    EXPECT_EQ(run(QStringList{"--force", "--report", dir_.filePath("rel2")} +
                  QStringList{files[0], twin}),
              cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já é o relatório de " + files[0])) << err_.toStdString();
    EXPECT_EQ(entries("rel2"), QStringList({"aprovado-relatorio.pdf"}));
    EXPECT_TRUE(
        pdfText(dir_.filePath("rel2/aprovado-relatorio.pdf")).contains(files[0].section('/', -1)));
}

TEST_F(ManyFilesTest, ASingleReportIsWrittenForAFailedFileAndAnExistingPathIsKept)
{
    const QString report = dir_.filePath("relatorio.pdf");
    EXPECT_EQ(run({"--report", report, file("violado")}), cli::exit_status::kVerificationFailed);
    const QString text = pdfText(report);
    EXPECT_TRUE(text.contains(kReprovado)) << text.toStdString();
    EXPECT_TRUE(text.contains("Documento Violado - Erro 1717"));
    EXPECT_TRUE(out_.contains("Resultado: Reprovado\n  - O conteúdo do documento foi alterado "
                              "depois de assinado. [content-tampered]\n"))
        << out_.toStdString();

    fx::writeFile(report.toStdString(), "anterior");
    EXPECT_EQ(run({"--report", report, file("aprovado")}), cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já existe")) << err_.toStdString();
    EXPECT_EQ(ScratchFolder::read(report), QByteArray("anterior"));
    EXPECT_EQ(run({"--report=" + report, "--force", file("aprovado")}),
              cli::exit_status::kSignaturesOk);
    EXPECT_TRUE(pdfText(report).contains("Resultado da verificação Aprovado"));

    EXPECT_EQ(run({"--report", dir_.filePath("falta/r.pdf"), file("aprovado")}),
              cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("Não foi possível gravar")) << err_.toStdString();
}

TEST_F(ManyFilesTest, JsonCarriesTheVerdictOfTheFileAndOfEachSigner)
{
    for (const VerdictState& state : verdictStates()) {
        SCOPED_TRACE(state.name);
        CliRunTest::run({"--json", file(state.name)}, stateOptions(state));
        const QJsonObject report = json();
        const QString indication = kIndications.at(state.verdict);
        EXPECT_EQ(report["verdict"].toString(), verify::verdictWord(state.verdict));
        EXPECT_EQ(report["indication"].toString(), indication);
        EXPECT_EQ(report["sub_indication"].isNull(), state.codes.isEmpty());
        EXPECT_EQ(codesOf(report["reasons"]), state.codes);
        QStringList codes;
        for (const QJsonValue& signer : report["signers"].toArray()) {
            EXPECT_EQ(signer["verdict"].toString(), verify::verdictWord(state.verdict));
            EXPECT_EQ(signer["indication"].toString(), indication);
            codes << codesOf(signer["reasons"]);
        }
        // A file that failed has no signers: its reason is the file's own.
        if (report["verified"].toBool()) {
            EXPECT_EQ(codes, state.codes);
        }
    }
}

// Aprovado or not, the status says whether the file verified and whether
// every signer holds a valid ICP-Brasil certificate with nothing Reprovado.
TEST_F(ManyFilesTest, ExitStatusOfEveryState)
{
    const std::map<std::string, int> expected = {
        {"aprovado", cli::exit_status::kSignaturesOk},
        {"violado", cli::exit_status::kVerificationFailed},
        {"revogado", cli::exit_status::kNotAllValid},
        {"revogado-substituido", cli::exit_status::kNotAllValid},
        {"uso-da-chave", cli::exit_status::kNotAllValid},
        {"nao-confiavel", cli::exit_status::kNotAllValid},
        // Indeterminado with a valid ICP-Brasil certificate: the verdict tells it.
        {"revogacao-desconhecida", cli::exit_status::kSignaturesOk},
        {"expirado-sem-carimbo", cli::exit_status::kNotAllValid},
        // Aprovado at the time-stamp's time, but not valid now.
        {"expirado-com-carimbo", cli::exit_status::kNotAllValid},
        // A valid certificate, but the signature is Reprovado.
        {"carimbo-invalido", cli::exit_status::kNotAllValid},
    };
    ASSERT_EQ(expected.size(), verdictStates().size());
    for (const VerdictState& state : verdictStates()) {
        SCOPED_TRACE(state.name);
        EXPECT_EQ(CliRunTest::run({file(state.name)}, stateOptions(state)),
                  expected.at(state.name));
    }
}

// The real program: a plain verification does not load QtGui; --report
// starts the program that does, on no display.
TEST_F(ManyFilesTest, TheRealProgramWritesReportsWithoutADisplay)
{
    QProcess ldd;
    ldd.start("ldd", {SELAVIA_VERIFY_BINARY});
    ASSERT_TRUE(ldd.waitForFinished(30000));
    const QString libraries = QString::fromUtf8(ldd.readAllStandardOutput());
    EXPECT_TRUE(libraries.contains("libQt6Core")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6Gui")) << libraries.toStdString();

    QProcess program;
    QProcessEnvironment environment = storeHolding(fx::icpBrasilHierarchy().root);
    environment.insert("SELAVIA_OFFLINE", "1");
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(name);
    program.setProcessEnvironment(environment);
    const QString report = dir_.filePath("lote");
    program.start(SELAVIA_VERIFY_BINARY, {"--report", report, "-"});
    program.write((file("aprovado") + "\n" + file("violado") + "\n").toUtf8());
    program.closeWriteChannel();
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitCode(), cli::exit_status::kVerificationFailed);
    EXPECT_EQ(program.readAllStandardError(), QByteArray()) << "nothing but the reports";
    EXPECT_EQ(entries("lote"), QStringList({"aprovado-relatorio.pdf", "violado-relatorio.pdf"}));
    EXPECT_TRUE(pdfText(dir_.filePath("lote/aprovado-relatorio.pdf"))
                    .contains("Relatório de Verificação de Assinaturas"));
}
