// What the engines that spread an archive over many processes need of the
// real program: one path a line in, one JSON line out, in order, as each
// path comes; and the Kubernetes Job shipped in packaging/ runs that way.

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
    // `count` paths, every `badEvery`-th of a file that is not there.
    QStringList archive(int count, int badEvery)
    {
        QDir(dir_.path()).mkpath("arquivo");
        const fx::Bytes& good = stateNamed("aprovado").message;
        QStringList paths;
        for (int n = 0; n < count; ++n) {
            const QString name = QStringLiteral("arquivo/%1.slv").arg(n, 4, 10, QLatin1Char('0'));
            paths << (n % badEvery == 0 ? dir_.filePath(name + ".sumiu") : dir_.write(name, good));
        }
        return paths;
    }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = storeHolding(fx::icpBrasilHierarchy().root);
        environment.insert("SELAVIA_OFFLINE", "1");
        environment.insert("SELAVIA_CACHE_DIR", dir_.filePath("cache"));
        const QString bin = QFileInfo(SELAVIA_VERIFY_BINARY).absolutePath();
        environment.insert("PATH", bin + ":" + environment.value("PATH"));
        return environment;
    }
    static QStringList filesOfLines(const QByteArray& output)
    {
        QStringList files;
        for (const QByteArray& line : output.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error{};
            files << QJsonDocument::fromJson(line, &error).object()["file"].toString();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        }
        return files;
    }
    // Runs `program` with `arguments` on `input`; its standard output.
    QByteArray runProgram(const QString& program, const QStringList& arguments,
                          const QByteArray& input, const QProcessEnvironment& environment,
                          int* status = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForStarted(10000)) << program.toStdString();
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(120000));
        if (status)
            *status = process.exitCode();
        return process.readAllStandardOutput();
    }
};

// A forked process fed one path a line (Spark's RDD.pipe, a shell loop):
// each path's line comes out before the next path goes in.
TEST_F(ArchiveEnginesTest, APipeGetsEachLineBeforeTheNextPath)
{
    const QStringList paths = archive(6, 3);
    QProcess program;
    program.setProcessEnvironment(environment());
    program.start(SELAVIA_VERIFY_BINARY, {"--json", "-"});
    ASSERT_TRUE(program.waitForStarted());
    for (const QString& path : paths) {
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
// seven lines over three processes: every path once, in the order given.
TEST_F(ArchiveEnginesTest, GnuParallelKeepsTheOrderOfThePaths)
{
    const QStringList paths = archive(60, 9);
    int status = -1;
    const QByteArray output = runProgram(
        "parallel",
        {"-k", "--pipe", "-N", "7", "-j", "3", "-S", ":", SELAVIA_VERIFY_BINARY, "--json", "-"},
        paths.join('\n').toUtf8() + '\n', environment(), &status);
    EXPECT_EQ(filesOfLines(output), paths);
    // parallel's status: how many blocks failed, here those with a missing
    // file (each of which is still one line).
    EXPECT_GT(status, 0);
}

// The Job's manifest as Kubernetes would read it: an Indexed Job whose
// pods each take their slice of the list and write a file of their own;
// its script, run here once per index, covers the list exactly once.
TEST_F(ArchiveEnginesTest, TheKubernetesJobSplitsTheListBetweenItsPods)
{
    const QString manifest =
        QStringLiteral(SELAVIA_SOURCE_DIR "/packaging/kubernetes/selavia-verify-job.yaml");
    const QByteArray read = runProgram("python3",
                                       {"-c",
                                        "import json, sys, yaml\n"
                                        "print(json.dumps(yaml.safe_load(open(sys.argv[1]))))",
                                        manifest},
                                       {}, QProcessEnvironment::systemEnvironment());
    QJsonParseError error{};
    const QJsonObject job = QJsonDocument::fromJson(read, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << read.toStdString();
    // What the pods' script relies on: an index per pod, a slice per
    // index, the cache and a writable output folder mounted.
    const QJsonObject spec = job["spec"].toObject();
    EXPECT_EQ(spec["completionMode"].toString(), "Indexed");
    const int completions = spec["completions"].toInt();
    ASSERT_GT(completions, 1);
    const QJsonObject podSpec = spec["template"]["spec"].toObject();
    EXPECT_NE(podSpec["restartPolicy"].toString(), "Always") << "a Job refuses it";
    ASSERT_EQ(podSpec["containers"].toArray().size(), 1);
    const QJsonObject container = podSpec["containers"][0].toObject();
    std::map<QString, QString> env;
    for (const QJsonValue& variable : container["env"].toArray())
        env[variable["name"].toString()] = variable["value"].toString();
    EXPECT_EQ(env["SLICES"].toInt(), completions) << "every slice has a pod";
    std::map<QString, bool> mounts; // read-only or not
    for (const QJsonValue& mount : container["volumeMounts"].toArray())
        mounts[mount["mountPath"].toString()] = mount["readOnly"].toBool();
    EXPECT_TRUE(mounts.contains(env["SELAVIA_CACHE_DIR"]));
    ASSERT_TRUE(mounts.contains(env["SAIDA"]));
    EXPECT_FALSE(mounts[env["SAIDA"]]);
    const QJsonArray command = container["command"].toArray();
    ASSERT_EQ(command.size(), 2);
    const QString script = container["args"][0].toString();
    EXPECT_TRUE(script.contains("--offline")) << script.toStdString();

    // Each pod's script, here, with the mounts' folders of the test.
    const QStringList paths = archive(101, 25);
    QDir(dir_.path()).mkpath("saida");
    QProcessEnvironment environment = this->environment();
    environment.insert("LISTA",
                       dir_.write("caminhos.txt", (paths.join('\n') + '\n').toStdString()));
    environment.insert("SAIDA", dir_.filePath("saida"));
    environment.insert("SLICES", env["SLICES"]);
    const auto pod = [&](int index) {
        environment.insert("JOB_COMPLETION_INDEX", QString::number(index));
        int status = -1;
        runProgram(command[0].toString(), {command[1].toString(), script}, {}, environment,
                   &status);
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
