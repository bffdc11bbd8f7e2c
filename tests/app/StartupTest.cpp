#include "app/CommandLine.h"
#include "app/Iniciar.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/app/FakeDesktop.h"
#include "tests/support/Printers.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using selavia::app::CommandLine;
using selavia::app::splitCommandLine;
using selavia::app::StartOutcome;
using selavia::desktop::MessageIcon;

TEST(CommandLineTest, SplitsAtBarsOrBlanksKeepingEmptyPartsAndQuotes)
{
    struct Case {
        QString text;
        QString option;
        QString argument;
        bool incorrect;
    };
    const std::vector<Case> cases = {
        {"", "", "", false},
        {"-o|/tmp/meus docs/contrato.slv", "-o", "/tmp/meus docs/contrato.slv", false},
        {"-o /tmp/meus docs/contrato.slv", "-o", "/tmp/meus", false},
        {"-o|/tmp/CONTRATO.SLV", "-o", "/tmp/CONTRATO.SLV", false},
        {"-O|/tmp/contrato.slv", "-O", "/tmp/contrato.slv", false},
        {"/tmp/contrato.slv", "", "", true},
        {"-o", "", "", true},
        {"-o|/tmp/contrato.slv|mais coisas", "-o", "/tmp/contrato.slv", false},
        {" -o /tmp/contrato.slv", "", "-o", false},
        {"-o  /tmp/x.slv", "-o", "", false},
        {"-o \"/tmp/contrato.slv\"", "-o", "\"/tmp/contrato.slv\"", false},
    };
    for (const Case& c : cases) {
        const CommandLine line = splitCommandLine(c.text);
        EXPECT_EQ(line.option, c.option) << c.text.toStdString();
        EXPECT_EQ(line.argument, c.argument) << c.text.toStdString();
        EXPECT_EQ(line.incorrect, c.incorrect) << c.text.toStdString();
    }
    EXPECT_EQ(selavia::app::commandLineText({"-o", "/tmp/a", "b.slv"}), "-o /tmp/a b.slv");
    EXPECT_EQ(selavia::app::commandLineText({}), "");
}

namespace {

class FakeWindows : public selavia::app::StartupWindows {
public:
    int mainWindows = 0;
    QStringList documents;
    void showMainWindow() override { ++mainWindows; }
    void showDocumentWindow(const QString& path) override { documents << path; }
};

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath("meus docs"));
        slvPath_ = dir_.filePath("meus docs/Contrato.SLV");
        QFile file(slvPath_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    StartOutcome start(const QStringList& arguments)
    {
        return selavia::app::Main(arguments, desktop_, windows_);
    }

    QTemporaryDir dir_;
    QString slvPath_;
    FakeDesktop desktop_;
    FakeWindows windows_;
};

} // namespace

TEST_F(StartupTest, WithoutACommandLineOrWithAnotherOptionTheMainWindowOpensSilently)
{
    EXPECT_EQ(start({}), StartOutcome::MainWindow);
    EXPECT_EQ(start({"-O|" + slvPath_}), StartOutcome::MainWindow);
    EXPECT_EQ(windows_.mainWindows, 2);
    EXPECT_TRUE(desktop_.messages.empty());
    EXPECT_EQ(desktop_.ends, 0);
}

TEST_F(StartupTest, ASinglePartWarnsAndThenOpensTheMainWindow)
{
    EXPECT_EQ(start({slvPath_.section(' ', 1)}), StartOutcome::MainWindow);
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_EQ(desktop_.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(desktop_.messages[0].title, "Selavia Reader");
    EXPECT_EQ(desktop_.messages[0].text, "Parámetros Incorretos.");
    EXPECT_EQ(windows_.mainWindows, 1);
}

TEST_F(StartupTest, OptionAndBarOpenTheLongPathOfAnSlvFileInAnyCase)
{
    QDir::setCurrent(dir_.path());
    EXPECT_EQ(start({"-o|meus docs/./Contrato.SLV|ignorado"}), StartOutcome::DocumentWindow);
    EXPECT_EQ(windows_.documents, QStringList{slvPath_});
    EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(StartupTest, APathThatIsNoSlvFileEndsTheProgramWithAMessage)
{
    const QString text = dir_.filePath("leia.txt");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(start({"-o|" + text}), StartOutcome::Ended);
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_EQ(desktop_.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(desktop_.messages[0].title, "Selavia Reader - Erro");
    EXPECT_EQ(desktop_.messages[0].text, "Este Arquivo não possui a extensão SLV.");
    EXPECT_EQ(desktop_.ends, 1);
    EXPECT_EQ(windows_.mainWindows + windows_.documents.size(), 0);
}

TEST_F(StartupTest, ABlankBeforeAPathWithBlanksCutsItAndTheFileIsNotFound)
{
    // "-o /…/meus docs/Contrato.SLV" splits at the blank inside the path.
    EXPECT_EQ(start({"-o", slvPath_}), StartOutcome::Ended);
    ASSERT_EQ(desktop_.messages.size(), 2u);
    EXPECT_TRUE(desktop_.messages[0].text.startsWith("53 - "))
        << desktop_.messages[0].text.toStdString();
    EXPECT_EQ(desktop_.messages[1].text, "Este Arquivo não possui a extensão SLV.");
    EXPECT_EQ(desktop_.ends, 1);
}

TEST_F(StartupTest, AQuotedPathDoesNotResolve)
{
    EXPECT_EQ(start({"-o|\"" + slvPath_ + "\""}), StartOutcome::Ended);
    EXPECT_EQ(desktop_.messages.back().text, "Este Arquivo não possui a extensão SLV.");
}

TEST(SingleInstanceTest, ASecondInstanceIsRefusedWhileTheFirstLives)
{
    QTemporaryDir dir;
    const QString lock = dir.filePath("selavia.lock");
    {
        selavia::desktop::SingleInstance first(lock);
        ASSERT_TRUE(first.acquire());
        selavia::desktop::SingleInstance second(lock);
        EXPECT_FALSE(second.acquire());
    }
    selavia::desktop::SingleInstance afterwards(lock);
    EXPECT_TRUE(afterwards.acquire());
}

TEST(SingleInstanceTest, ALockLeftByAProcessThatIsGoneDoesNotCount)
{
    QTemporaryDir dir;
    const QString lock = dir.filePath("selavia.lock");
    QProcess gone;
    gone.start("true", {});
    ASSERT_TRUE(gone.waitForFinished(10000));
    const qint64 deadPid = gone.processId() != 0 ? gone.processId() : 999999;
    QFile file(lock);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::number(deadPid > 0 ? deadPid : 999999) + "\n" +
               QCoreApplication::applicationName().toUtf8() + "\n" +
               QSysInfo::machineHostName().toUtf8() + "\n");
    file.close();
    selavia::desktop::SingleInstance instance(lock);
    EXPECT_TRUE(instance.acquire());
}
