#include "cli/Resume.h"

#include "tests/support/CliRun.h"
#include "tests/support/VerdictStates.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <signal.h>

using namespace selavia::testing;
namespace cli = selavia::cli;

namespace {

class ResumeTest : public CliRunTest {
protected:
    QString file(const char* state, const QString& name)
    {
        return dir_.write(name, stateNamed(state).message);
    }
    int run(const QStringList& arguments, const char* state = "aprovado")
    {
        return CliRunTest::run(arguments, stateOptions(stateNamed(state)));
    }
    // The "file" of each line; every line must be whole JSON.
    static QStringList filesOf(const QByteArray& lines)
    {
        QStringList files;
        for (const QByteArray& line : lines.split('\n')) {
            QJsonParseError error{};
            if (!line.isEmpty())
                files << QJsonDocument::fromJson(line, &error).object()["file"].toString();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        }
        return files;
    }
};

TEST_F(ResumeTest, RefusesWithoutJsonAndWhileAnotherRunHoldsTheFile)
{
    const QString output = dir_.filePath("saida.jsonl");
    EXPECT_EQ(run({"--resume", output, file("aprovado", "a.slv")}), cli::exit_status::kUsage);
    EXPECT_TRUE(err_.startsWith("--resume só vale com --json.")) << err_.toStdString();
    EXPECT_FALSE(QFile::exists(output));

    QString problem;
    const std::unique_ptr<cli::ResumeFile> held = cli::ResumeFile::open(output, problem);
    ASSERT_TRUE(held) << problem.toStdString();
    EXPECT_EQ(run({"--json", "--resume", output, dir_.filePath("a.slv")}),
              cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já está sendo usado por outra execução")) << err_.toStdString();
    EXPECT_EQ(ScratchFolder::read(output), QByteArray());
}

// What an earlier run left in the file decides what is verified again.
TEST_F(ResumeTest, VerifiesOnlyWhatTheFileDoesNotHaveForTheSameBytes)
{
    const QString a = file("aprovado", "a.slv");
    const QString b = file("violado", "b.slv");
    const QString gone = dir_.filePath("sumiu.slv");
    const auto lineOf = [this](const QString& path) {
        run({"--json", path});
        return QJsonDocument(json()).toJson(QJsonDocument::Compact) + '\n';
    };
    const QByteArray lineA = lineOf(a), lineB = lineOf(b), lineGone = lineOf(gone);
    QByteArray changedA = lineA;
    changedA.replace(QJsonDocument::fromJson(lineA).object()["file_sha256"].toString().toLatin1(),
                     QByteArray(64, '0'));
    // The line of a file read then, that cannot be read now.
    QByteArray readThen = lineA;
    readThen.replace(a.toUtf8(), gone.toUtf8());
    const std::vector<std::tuple<const char*, QByteArray, QStringList>> cases = {
        {"nada", {}, {a, b, gone}},
        {"tudo", lineA + lineB + lineGone, {}},
        {"só a", lineA, {b, gone}},
        {"só b", lineB, {a, gone}},
        {"linha cortada", lineA + lineGone + lineB.left(40), {b}},
        {"bytes mudados", changedA + lineB + lineGone, {a}},
        {"lido antes, sumiu agora", lineA + lineB + readThen, {gone}},
        {"linha sem JSON", lineA + "{\"file\"\n" + lineB + lineGone, {}},
    };
    for (const auto& [name, before, appended] : cases) {
        SCOPED_TRACE(name);
        const QString output =
            dir_.write(QStringLiteral("%1.jsonl").arg(name), before.toStdString());
        // The status is that of every file, skipped or verified.
        EXPECT_EQ(run({"--json", "--resume", output, a, b, gone}),
                  cli::exit_status::kVerificationFailed);
        EXPECT_EQ(out_, QString()) << "the lines go to the file";
        const QByteArray after = ScratchFolder::read(output);
        // What was whole is kept as it was; a torn last line is cut off.
        const QByteArray kept = before.left(before.lastIndexOf('\n') + 1);
        ASSERT_TRUE(after.startsWith(kept));
        EXPECT_EQ(filesOf(after.mid(kept.size())), appended);
    }
}

// A skipped file's status is read back from its line: the same as the run
// that wrote it, for every state a file can be in.
TEST_F(ResumeTest, ASkippedFileHasTheStatusOfTheRunThatWroteItsLine)
{
    for (const VerdictState& state : verdictStates()) {
        SCOPED_TRACE(state.name);
        const QString path = file(state.name, QStringLiteral("%1.slv").arg(state.name));
        const QString output = dir_.filePath(QStringLiteral("%1.jsonl").arg(state.name));
        const QStringList arguments{"--json", "--resume", output, path};
        const int verified = CliRunTest::run(arguments, stateOptions(state));
        const QByteArray written = ScratchFolder::read(output);
        EXPECT_EQ(CliRunTest::run(arguments, stateOptions(state)), verified);
        EXPECT_EQ(ScratchFolder::read(output), written) << "nothing appended";
    }
}

// The real program killed in the middle of a list, then run again on the
// whole list: every file has exactly one whole line.
TEST_F(ResumeTest, AKilledRunGoesOnWhereItStopped)
{
    constexpr int kCount = 3000;
    QStringList paths;
    for (int n = 0; n < kCount; ++n)
        paths << file("aprovado", QStringLiteral("f%1.slv").arg(n));
    const QByteArray list = paths.join('\n').toUtf8() + '\n';
    const QString output = dir_.filePath("saida.jsonl");
    QProcessEnvironment environment = storeHolding(fx::icpBrasilHierarchy().root);
    environment.insert("SELAVIA_OFFLINE", "1");
    environment.insert("SELAVIA_CACHE_DIR", dir_.filePath("cache"));
    const auto start = [&](QProcess& process) {
        process.setProcessEnvironment(environment);
        process.start(SELAVIA_VERIFY_BINARY, {"--json", "--resume", output, "-"});
        EXPECT_TRUE(process.waitForStarted());
        process.write(list);
    };
    QProcess killed;
    start(killed);
    // Standard input stays open: the run cannot have finished when killed.
    QElapsedTimer waited;
    waited.start();
    while (ScratchFolder::read(output).count('\n') < 200 && waited.elapsed() < 60000)
        killed.waitForBytesWritten(2); // the paths go out only while waited for
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(30000));
    const qsizetype before = ScratchFolder::read(output).count('\n');
    ASSERT_GE(before, 200);
    ASSERT_LT(before, kCount);

    QProcess resumed;
    start(resumed);
    resumed.closeWriteChannel();
    ASSERT_TRUE(resumed.waitForFinished(120000));
    EXPECT_EQ(resumed.exitCode(), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(resumed.readAllStandardOutput() + resumed.readAllStandardError(), QByteArray());
    QStringList files = filesOf(ScratchFolder::read(output));
    files.sort();
    paths.sort();
    EXPECT_EQ(files, paths);
}

} // namespace
