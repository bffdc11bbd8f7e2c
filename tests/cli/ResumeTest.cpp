#include "cli/Resume.h"

#include "tests/support/CliRun.h"
#include "tests/support/VerdictStates.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <map>
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
    int run(const QStringList& arguments, QString input = {})
    {
        return CliRunTest::run(arguments, stateOptions(stateNamed("aprovado")), input);
    }
    // The report line a single run of `path` prints.
    QByteArray lineOf(const QString& path)
    {
        run({"--json", path});
        return QJsonDocument(json()).toJson(QJsonDocument::Compact) + '\n';
    }
    // The objects of the file's lines; every line must be whole JSON.
    static QList<QJsonObject> linesOf(const QString& path)
    {
        QList<QJsonObject> objects;
        const QByteArray bytes = ScratchFolder::read(path);
        EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith('\n'));
        for (const QByteArray& line : bytes.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error{};
            objects << QJsonDocument::fromJson(line, &error).object();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        }
        return objects;
    }
    static QStringList filesOf(const QList<QJsonObject>& lines)
    {
        QStringList files;
        for (const QJsonObject& line : lines)
            files << line["file"].toString();
        return files;
    }
};

TEST_F(ResumeTest, AsksForJson)
{
    EXPECT_EQ(run({"--resume", dir_.filePath("saida.jsonl"), file("aprovado", "a.slv")}),
              cli::exit_status::kUsage);
    EXPECT_TRUE(err_.startsWith("--resume só vale com --json.")) << err_.toStdString();
    EXPECT_FALSE(QFile::exists(dir_.filePath("saida.jsonl")));
}

// What an earlier run left in the file decides what is verified again.
TEST_F(ResumeTest, VerifiesOnlyWhatTheFileDoesNotHaveForTheSameBytes)
{
    struct Case {
        const char* name;
        // What the file holds before, from the lines of a.slv, b.slv and a
        // file that is not there.
        std::function<QByteArray(const QByteArray& a, const QByteArray& b, const QByteArray& gone)>
            before;
        QStringList appended; // the files whose lines the run appends
    };
    const QString a = file("aprovado", "a.slv");
    const QString b = file("violado", "b.slv");
    const QString gone = dir_.filePath("sumiu.slv");
    const QByteArray lineA = lineOf(a);
    const QByteArray lineB = lineOf(b);
    const QByteArray lineGone = lineOf(gone);
    QByteArray changedA = lineA;
    changedA.replace(QJsonDocument::fromJson(lineA).object()["file_sha256"].toString().toLatin1(),
                     QByteArray(64, '0'));
    // The line of a file read then, that cannot be read now.
    QByteArray readThen = lineA;
    readThen.replace(a.toUtf8(), gone.toUtf8());
    const std::vector<Case> cases = {
        {"nada", [](auto, auto, auto) { return QByteArray(); }, {a, b, gone}},
        {"tudo", [](auto x, auto y, auto z) { return x + y + z; }, {}},
        {"só a", [](auto x, auto, auto) { return x; }, {b, gone}},
        {"só b", [](auto, auto y, auto) { return y; }, {a, gone}},
        {"linha cortada", [](auto x, auto y, auto z) { return x + z + y.left(40); }, {b}},
        {"bytes mudados", [&](auto, auto y, auto z) { return changedA + y + z; }, {a}},
        {"lido antes, sumiu agora", [&](auto x, auto y, auto) { return x + y + readThen; }, {gone}},
        {"linha sem JSON", [](auto x, auto y, auto z) { return x + "{\"file\"\n" + y + z; }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString output = dir_.filePath(QStringLiteral("%1.jsonl").arg(c.name));
        const QByteArray before = c.before(lineA, lineB, lineGone);
        {
            QFile seed(output);
            ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
            seed.write(before);
        }
        // The status is that of every file, skipped or verified.
        EXPECT_EQ(run({"--json", "--resume", output, a, b, gone}),
                  selavia::cli::exit_status::kVerificationFailed);
        EXPECT_EQ(out_, QString()) << "the lines go to the file";
        const QByteArray after = ScratchFolder::read(output);
        // What was whole is kept as it was; a torn last line is cut off.
        const QByteArray kept = before.left(before.lastIndexOf('\n') + 1);
        ASSERT_TRUE(after.startsWith(kept));
        QList<QJsonObject> appended;
        for (const QByteArray& line : after.mid(kept.size()).split('\n'))
            if (!line.isEmpty())
                appended << QJsonDocument::fromJson(line).object();
        EXPECT_EQ(filesOf(appended), c.appended);
    }
}

TEST_F(ResumeTest, TheStatusOfASkippedFileIsThatOfItsLine)
{
    const QString a = file("aprovado", "a.slv");
    const QString output = dir_.filePath("saida.jsonl");
    ASSERT_EQ(run({"--json", "--resume", output, a}), cli::exit_status::kSignaturesOk);
    const QByteArray first = ScratchFolder::read(output);
    EXPECT_EQ(run({"--json", "--resume", output, a}), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(ScratchFolder::read(output), first) << "nothing appended";

    struct Case {
        bool verified;
        bool signaturesOk;
        const char* verdict;
        int status;
    };
    for (const Case& c : std::vector<Case>{
             {true, true, "Aprovado", cli::exit_status::kSignaturesOk},
             {true, true, "Indeterminado", cli::exit_status::kSignaturesOk},
             {true, true, "Reprovado", cli::exit_status::kNotAllValid},
             {true, false, "Aprovado", cli::exit_status::kNotAllValid},
             {false, false, "Reprovado", cli::exit_status::kVerificationFailed},
         })
        EXPECT_EQ(cli::statusOfLine(c.verified, c.signaturesOk, c.verdict), c.status)
            << c.verified << c.signaturesOk << c.verdict;
}

TEST_F(ResumeTest, OneRunAtATimePerFile)
{
    QString problem;
    const QString output = dir_.filePath("saida.jsonl");
    const std::unique_ptr<cli::ResumeFile> held = cli::ResumeFile::open(output, problem);
    ASSERT_TRUE(held) << problem.toStdString();
    EXPECT_EQ(run({"--json", "--resume", output, file("aprovado", "a.slv")}),
              cli::exit_status::kCannotWrite);
    EXPECT_TRUE(err_.contains("já está sendo usado por outra execução")) << err_.toStdString();
    EXPECT_EQ(ScratchFolder::read(output), QByteArray());
}

// The real program killed in the middle of a list, then run again on the
// whole list: every file has exactly one whole line.
TEST_F(ResumeTest, AKilledRunGoesOnWhereItStopped)
{
    constexpr int kCount = 3000;
    const fx::Bytes& message = stateNamed("aprovado").message;
    QByteArray list;
    for (int n = 0; n < kCount; ++n)
        list += dir_.write(QStringLiteral("f%1.slv").arg(n), message).toUtf8() + '\n';
    const QString output = dir_.filePath("saida.jsonl");
    QProcessEnvironment environment = storeHolding(fx::icpBrasilHierarchy().root);
    environment.insert("SELAVIA_OFFLINE", "1");
    environment.insert("SELAVIA_CACHE_DIR", dir_.filePath("cache"));
    const QStringList arguments{"--json", "--resume", output, "-"};

    QProcess killed;
    killed.setProcessEnvironment(environment);
    killed.start(SELAVIA_VERIFY_BINARY, arguments);
    ASSERT_TRUE(killed.waitForStarted());
    // Standard input stays open: the run cannot have finished when killed.
    killed.write(list);
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
    resumed.setProcessEnvironment(environment);
    resumed.start(SELAVIA_VERIFY_BINARY, arguments);
    resumed.write(list);
    resumed.closeWriteChannel();
    ASSERT_TRUE(resumed.waitForFinished(120000));
    EXPECT_EQ(resumed.exitCode(), cli::exit_status::kSignaturesOk);
    EXPECT_EQ(resumed.readAllStandardOutput(), QByteArray());
    EXPECT_EQ(resumed.readAllStandardError(), QByteArray());

    const QList<QJsonObject> lines = linesOf(output);
    std::map<QString, int> seen;
    for (const QJsonObject& line : lines) {
        ++seen[line["file"].toString()];
        EXPECT_EQ(line["verdict"].toString(), "Aprovado");
        EXPECT_EQ(line["file_sha256"].toString().size(), 64);
    }
    EXPECT_EQ(lines.size(), kCount);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kCount));
    for (int n = 0; n < kCount; ++n)
        EXPECT_EQ(seen[dir_.filePath(QStringLiteral("f%1.slv").arg(n))], 1) << n;
}

} // namespace
