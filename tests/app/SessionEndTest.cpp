#include "fileinfo/PrivateFolder.h"
#include "platform/desktop/TerminationSignals.h"
#include "tests/support/Fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fx = selavia::fixtures;
using selavia::desktop::TerminationSignals;
using selavia::fileinfo::PrivateFolder;

namespace {

// The id of a process that has just ended.
pid_t deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

void makeFolderWithFile(const QString& folder)
{
    ASSERT_TRUE(QDir().mkpath(folder + "/sub"));
    fx::writeFile((folder + "/copia.pdf").toStdString(), "x");
    fx::writeFile((folder + "/sub/outra").toStdString(), "y");
}

} // namespace

TEST(TerminationSignalsTest, EachSignalReachesTheEventLoopAndTheOldHandlersReturn)
{
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction before {};
        ASSERT_EQ(::sigaction(number, nullptr, &before), 0);
        std::vector<int> seen;
        {
            TerminationSignals terminations([&](int got) { seen.push_back(got); });
            ASSERT_TRUE(terminations.installed());
            EXPECT_FALSE(TerminationSignals([](int) {}).installed()) << "one at a time";
            ASSERT_EQ(::raise(number), 0);
            EXPECT_TRUE(seen.empty()) << "nothing runs inside the signal handler";
            EXPECT_EQ(terminations.received(), 0);
            QCoreApplication::processEvents();
            EXPECT_EQ(seen, std::vector<int>{number});
            EXPECT_EQ(terminations.received(), number);
        }
        struct sigaction after {};
        ASSERT_EQ(::sigaction(number, nullptr, &after), 0);
        EXPECT_EQ(after.sa_handler, before.sa_handler);
    }
}

TEST(StaleFoldersTest, OnlyThisUsersFoldersOfEndedRunsAreRemoved)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QString dead = QString::number(deadPid());
    const QString live = QString::number(QCoreApplication::applicationPid());
    makeFolderWithFile(base.filePath("selavia-" + dead + "-a1B2c3"));
    makeFolderWithFile(base.filePath("selavia-" + live + "-a1B2c3"));
    makeFolderWithFile(base.filePath("selavia-a1B2c3"));            // no owner marked
    makeFolderWithFile(base.filePath("outro-" + dead + "-a1B2c3")); // not ours
    makeFolderWithFile(base.filePath("selavia-" + dead + "-a1B2c3d"));
    fx::writeFile(base.filePath("selavia-" + dead + "-arquiv").toStdString(), "f");
    // A link is never followed, whatever it is named.
    QTemporaryDir elsewhere;
    makeFolderWithFile(elsewhere.filePath("alvo"));
    ASSERT_EQ(
        ::symlink(QFile::encodeName(elsewhere.filePath("alvo")).constData(),
                  QFile::encodeName(base.filePath("selavia-" + dead + "-ligaca")).constData()),
        0);
    QStringList kept = entries(base.path());
    kept.removeOne("selavia-" + dead + "-a1B2c3");
    if (::geteuid() == 0) { // another user's folder, when we can make one
        const QString foreign = base.filePath("selavia-" + dead + "-alheia");
        makeFolderWithFile(foreign);
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 4321, 4321), 0);
        kept << QFileInfo(foreign).fileName();
        kept.sort();
    }

    EXPECT_EQ(PrivateFolder::removeStale(base.path()), 1);
    EXPECT_EQ(entries(base.path()), kept);
    EXPECT_EQ(entries(elsewhere.filePath("alvo")), (QStringList{"copia.pdf", "sub"}));
    EXPECT_EQ(PrivateFolder::removeStale(base.filePath("nada")), 0);
}

namespace {

// Starts the real reader on `signedPath` with `temp` as its TEMP folder and
// a runtime folder (for the single-instance lock) of its own.
void startReader(QProcess& reader, const QString& signedPath, const QString& temp)
{
    const QString run = temp + "-run";
    ASSERT_TRUE(QDir().mkpath(temp) && QDir().mkpath(run));
    ASSERT_TRUE(QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TEMP", temp);
    environment.insert("XDG_RUNTIME_DIR", run);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    reader.setProcessEnvironment(environment);
    reader.start(SELAVIA_READER_BINARY, {"-o|" + signedPath});
    ASSERT_TRUE(reader.waitForStarted(10000));
}

// The copy in its private folder, once the reader has written it.
QString waitForCopy(QProcess& reader, const QString& temp)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000 && reader.state() == QProcess::Running) {
        for (const QString& folder : QDir(temp).entryList({"selavia-*"}, QDir::Dirs)) {
            if (QFileInfo(temp + "/" + folder + "/contrato.pdf").isFile())
                return temp + "/" + folder + "/contrato.pdf";
        }
        QThread::msleep(20);
    }
    return {};
}

} // namespace

// Each run also finds a folder left by an ended run, which start-up removes.
TEST(ReaderProcessTest, TerminationSignalsRemoveTheCopyAndItsFolder)
{
    QTemporaryDir dir;
    const QString signedPath = dir.filePath("contrato.slv");
    fx::writeFile(signedPath.toStdString(),
                  fx::makeSignedMessage(selavia::testing::icpMessage(
                      selavia::testing::icpSigner("FULANO DE TAL"), "contrato.pdf")));

    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        const QString temp = dir.filePath("temp" + QString::number(number));
        makeFolderWithFile(temp + "/selavia-" + QString::number(deadPid()) + "-Xy12Ab");
        QProcess reader;
        startReader(reader, signedPath, temp);
        const QString copy = waitForCopy(reader, temp);
        ASSERT_FALSE(copy.isEmpty()) << "the reader never wrote its copy";
        EXPECT_EQ(entries(temp), QStringList{QFileInfo(copy).dir().dirName()});
        ASSERT_EQ(::kill(static_cast<pid_t>(reader.processId()), number), 0);
        ASSERT_TRUE(reader.waitForFinished(15000));
        EXPECT_EQ(reader.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
        // A sanitizer's report, if any, says why a status is not the signal's.
        EXPECT_EQ(reader.exitCode(), 128 + number) << reader.readAllStandardError().toStdString();
        EXPECT_EQ(entries(temp), QStringList());
    }
}
