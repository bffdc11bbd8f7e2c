// What engines that spread an archive over many processes need of the real
// program: one path a line in, one JSON line out, in order, as each comes.

#include "tests/support/CliRun.h"
#include "tests/support/VerdictStates.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <gtest/gtest.h>
#include <map>

using namespace selavia::testing;

namespace {

class ArchiveEnginesTest : public CliRunTest {
protected:
    ArchiveEnginesTest()
    {
        env_.insert("SELAVIA_OFFLINE", "1");
        env_.insert("SELAVIA_CACHE_DIR", dir_.filePath("cache"));
        env_.insert("PATH",
                    QFileInfo(SELAVIA_VERIFY_BINARY).absolutePath() + ":" + env_.value("PATH"));
    }
    // `count` paths, every `badEvery`-th of a file that is not there.
    QStringList archive(int count, int badEvery)
    {
        QDir(dir_.path()).mkpath("arquivo");
        QStringList paths;
        for (int n = 0; n < count; ++n) {
            const QString name = QStringLiteral("arquivo/%1.slv").arg(n, 4, 10, QLatin1Char('0'));
            paths << (n % badEvery == 0 ? dir_.filePath(name + ".sumiu")
                                        : dir_.write(name, stateNamed("aprovado").message));
        }
        return paths;
    }
    // The "file" of each JSON line of `output`.
    QStringList filesOfLines(const QByteArray& output)
    {
        out_ = QString::fromUtf8(output);
        QStringList files;
        for (const QJsonObject& line : jsonLines())
            files << line["file"].toString();
        return files;
    }
    // Runs `program` with nothing in: its standard output, and its status.
    QByteArray runProgram(const QString& program, const QStringList& arguments, int* status)
    {
        QProcess process;
        process.setProcessEnvironment(env_);
        process.start(program, arguments);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(120000)) << program.toStdString();
        *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return process.readAllStandardOutput();
    }
    QProcessEnvironment env_ = storeHolding(fx::icpBrasilHierarchy().root);
};

// A forked process fed one path a line (Spark's RDD.pipe, a shell loop):
// each path's line comes out before the next path goes in.
TEST_F(ArchiveEnginesTest, APipeGetsEachLineBeforeTheNextPath)
{
    QProcess program;
    program.setProcessEnvironment(env_);
    program.start(SELAVIA_VERIFY_BINARY, {"--json", "-"});
    ASSERT_TRUE(program.waitForStarted());
    for (const QString& path : archive(6, 3)) {
        program.write(path.toUtf8() + '\n');
        while (!program.canReadLine())
            ASSERT_TRUE(program.waitForReadyRead(30000)) << path.toStdString();
        const QJsonObject line = QJsonDocument::fromJson(program.readLine()).object();
        EXPECT_EQ(line["file"].toString(), path);
        EXPECT_EQ(line["verified"].toBool(), !path.endsWith(".sumiu"));
    }
    program.closeWriteChannel();
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.readAllStandardOutput(), QByteArray());
    EXPECT_EQ(program.exitCode(), selavia::cli::exit_status::kVerificationFailed);
}

// GNU parallel, on this machine as one of its hosts (-S :), in blocks of
// seven lines over three processes: every path once, in the order given;
// its status counts the blocks with a missing file.
TEST_F(ArchiveEnginesTest, GnuParallelKeepsTheOrderOfThePaths)
{
    const QStringList paths = archive(60, 9);
    const QString list = dir_.write("caminhos.txt", (paths.join('\n') + '\n').toStdString());
    int status = -1;
    const QByteArray output =
        runProgram("sh",
                   {"-c", "parallel -k --pipe -N 7 -j 3 -S : \"$0\" --json - < \"$1\"",
                    SELAVIA_VERIFY_BINARY, list},
                   &status);
    EXPECT_EQ(filesOfLines(output), paths);
    EXPECT_GT(status, 0);
}

// The shipped Indexed Job as Kubernetes reads it: what its pods' script
// relies on is there, and that script, run once per index, covers the list
// exactly once, each pod writing a file of its own.
TEST_F(ArchiveEnginesTest, TheKubernetesJobSplitsTheListBetweenItsPods)
{
    int status = -1;
    const QByteArray read = runProgram(
        "python3",
        {"-c", "import json, sys, yaml\nprint(json.dumps(yaml.safe_load(open(sys.argv[1]))))",
         SELAVIA_SOURCE_DIR "/packaging/kubernetes/selavia-verify-job.yaml"},
        &status);
    const QJsonObject spec = QJsonDocument::fromJson(read).object()["spec"].toObject();
    EXPECT_EQ(spec["completionMode"].toString(), "Indexed");
    const int completions = spec["completions"].toInt();
    ASSERT_GT(completions, 1) << read.toStdString();
    const QJsonObject podSpec = spec["template"]["spec"].toObject();
    EXPECT_NE(podSpec["restartPolicy"].toString(), "Always") << "a Job refuses it";
    ASSERT_EQ(podSpec["containers"].toArray().size(), 1);
    const QJsonObject container = podSpec["containers"][0].toObject();
    std::map<QString, QString> env;
    for (const QJsonValue& variable : container["env"].toArray())
        env[variable["name"].toString()] = variable["value"].toString();
    EXPECT_EQ(env["SLICES"].toInt(), completions) << "every slice has a pod";
    QStringList mounts, writable;
    for (const QJsonValue& mount : container["volumeMounts"].toArray())
        (mount["readOnly"].toBool() ? mounts : writable) << mount["mountPath"].toString();
    EXPECT_TRUE((mounts + writable).contains(env["SELAVIA_CACHE_DIR"]));
    EXPECT_TRUE(writable.contains(env["SAIDA"]));
    const QJsonArray command = container["command"].toArray();
    ASSERT_EQ(command.size(), 2);
    const QString script = container["args"][0].toString();
    EXPECT_TRUE(script.contains("--offline")) << script.toStdString();

    // Each pod's script, here, with the test's folders for the mounts.
    const QStringList paths = archive(101, 25);
    QDir(dir_.path()).mkpath("saida");
    env_.insert("LISTA", dir_.write("caminhos.txt", (paths.join('\n') + '\n').toStdString()));
    env_.insert("SAIDA", dir_.filePath("saida"));
    env_.insert("SLICES", env["SLICES"]);
    const auto pod = [&](int index) {
        env_.insert("JOB_COMPLETION_INDEX", QString::number(index));
        runProgram(command[0].toString(), {command[1].toString(), script}, &status);
        EXPECT_EQ(status, 0) << "verdicts are no failure of the pod";
        return ScratchFolder::read(
            dir_.filePath(QStringLiteral("saida/parte-%1.jsonl").arg(index)));
    };
    for (int index = 0; index < completions; ++index) {
        QStringList slice;
        for (qsizetype n = index; n < paths.size(); n += completions)
            slice << paths[n];
        EXPECT_EQ(filesOfLines(pod(index)), slice) << index;
    }
    // A pod started again finds its slice done and writes nothing more.
    const QByteArray done = ScratchFolder::read(dir_.filePath("saida/parte-0.jsonl"));
    EXPECT_EQ(pod(0), done);
}

} // namespace
