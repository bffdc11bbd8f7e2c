#include "app/Iniciar.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Printers.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using selavia::app::StartOutcome;
using selavia::desktop::MessageIcon;

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
    EXPECT_EQ(desktop_.onlyMessage(MessageIcon::Exclamation), "Parámetros Incorretos.");
    EXPECT_EQ(windows_.mainWindows, 1);
}

TEST_F(StartupTest, OptionAndBarOpenTheLongPathOfEachSignedKindInAnyCase)
{
    QDir::setCurrent(dir_.path());
    QStringList expected = {slvPath_};
    EXPECT_EQ(start({"-o|meus docs/./Contrato.SLV|ignorado"}), StartOutcome::DocumentWindow);
    for (const QString name : {"Contrato Assinado.Pdf", "contrato.pdf.p7s", "CONTRATO.P7S",
                               "contrato.pdf.p7m", "Contrato.P7m"}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir_.filePath("meus docs/" + name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        EXPECT_EQ(start({"-o|meus docs/" + name}), StartOutcome::DocumentWindow);
        expected << path;
    }
    EXPECT_EQ(windows_.documents, expected);
    EXPECT_TRUE(desktop_.messages.empty());
    EXPECT_EQ(desktop_.ends, 0);
}

// A blank before a path with blanks cuts it ("-o /…/meus docs/Contrato.SLV"
// splits inside the path) and a quoted path does not resolve: that file is
// first not found.
TEST_F(StartupTest, APathThatIsNoSignedKindEndsTheProgramWithAMessage)
{
    std::vector<std::pair<QStringList, QString>> cases = {{{"-o", slvPath_}, "53 - "},
                                                          {{"-o|\"" + slvPath_ + "\""}, "53 - "}};
    // Near misses of the accepted extensions.
    for (const QString name :
         {"leia.txt", "contrato.p7c", "contrato.slv.bak", "contrato.p7", "p7s"}) {
        const QString path = dir_.filePath(name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        cases.push_back({{"-o|" + path}, ""});
    }
    for (const auto& [arguments, notFound] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        desktop_ = FakeDesktop();
        EXPECT_EQ(start(arguments), StartOutcome::Ended);
        if (!notFound.isEmpty()) {
            ASSERT_EQ(desktop_.messages.size(), 2u);
            EXPECT_TRUE(desktop_.messages[0].text.startsWith(notFound))
                << desktop_.messages[0].text.toStdString();
            desktop_.messages.erase(desktop_.messages.begin());
        }
        EXPECT_EQ(desktop_.onlyMessage(MessageIcon::Critical, "Selavia Reader - Erro"),
                  "Este Arquivo não possui a extensão SLV, P7S, P7M ou PDF.");
        EXPECT_EQ(desktop_.ends, 1);
        EXPECT_EQ(windows_.mainWindows + windows_.documents.size(), 0);
    }
}
