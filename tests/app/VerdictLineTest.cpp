// The document window's verdict line and the certificate dialog's view,
// for files of every verdict state, against what the verification found;
// and a load stopped by the user.

#include "app/CertificateView.h"
#include "app/FrmOpen.h"
#include "tests/support/Controls.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SlowRevocation.h"
#include "tests/support/VerdictStates.h"
#include "verify/ResultSummary.h"
#include "verify/Verification.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace selavia::testing;
using selavia::app::FrmOpen;
namespace verify = selavia::verify;

namespace {

class WindowVerdictTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath("temp"));
        environment_.set("TEMP", dir_.filePath("temp").toLocal8Bit())
            .set("SELAVIA_OFFLINE", "1")
            .set("SELAVIA_CACHE_DIR", dir_.filePath("cache").toLocal8Bit())
            .set("SELAVIA_CACHE_KEY", dir_.filePath("cache-key").toLocal8Bit());
    }

    QString save(const VerdictState& state)
    {
        const QString path = dir_.filePath(QString::fromLatin1(state.name) + ".slv");
        fx::writeFile(path.toStdString(), state.message);
        return path;
    }

    std::unique_ptr<FrmOpen> show(const VerdictState& state, const QString& path)
    {
        auto window = std::make_unique<FrmOpen>(desktop_, state.trusted ? trustingIcp()
                                                                        : sig::TrustStore::empty());
        window->Form_Load(path);
        return window;
    }

    QTemporaryDir dir_;
    ScopedEnvironment environment_;
    FakeDesktop desktop_;
};

} // namespace

TEST_F(WindowVerdictTest, TheVerdictLineSaysWhatTheVerificationFoundForEveryState)
{
    for (const VerdictState& state : verdictStates()) {
        SCOPED_TRACE(state.name);
        const QString path = save(state);
        const verify::ValidationResult result =
            verify::Verification(stateOptions(state)).readFile(path).run();
        ASSERT_EQ(result.verdict.verdict, state.verdict);
        std::unique_ptr<FrmOpen> window = show(state, path);
        // Over the tabs, or over the error panel of a file that failed.
        if (!result.verified()) {
            EXPECT_EQ(control<QLabel>(window.get(), "lblErrorNum")->text(), result.error->caption);
        }
        const auto* line = control<QLabel>(window.get(), "lblVerdict");
        EXPECT_TRUE(line->isVisible());
        // The command line's and the report's words, with the qualifier an
        // Aprovado of a signer not valid in ICP-Brasil needs beside it.
        EXPECT_EQ(line->text(), verify::verdictHeadline(result));
        EXPECT_EQ(line->text().contains("o certificado ICP-Brasil do signatário não é válido hoje"),
                  QString(state.name) == "expirado-com-carimbo");
        EXPECT_TRUE(line->text().startsWith("Resultado: " + verify::verdictWord(state.verdict)))
            << line->text().toStdString();
        for (const verify::VerdictReason& reason : result.verdict.reasons)
            EXPECT_TRUE(line->text().contains(reason.text)) << reason.code.toStdString();
        EXPECT_FALSE(line->accessibleName().isEmpty());
        EXPECT_EQ(line->accessibleDescription(), line->text());
    }
}

TEST_F(WindowVerdictTest, NoCertificateIsShownAsCheckedWhenItsRevocationWasNotConsulted)
{
    const VerdictState& state = stateNamed("revogacao-desconhecida");
    const verify::ValidationResult result =
        verify::Verification(stateOptions(state)).readFile(save(state)).run();
    ASSERT_TRUE(result.verified());
    // The signer node's tooltip tells it; the dialog for the signer's own
    // certificate does not call it valid.
    const verify::TreeNode* signerNode = nullptr;
    const verify::TreeNode* own = nullptr;
    for (const verify::TreeNode& node : result.tree) {
        if (node.key == "aChild1")
            signerNode = &node;
        if (node.signer == 1 && node.chainPosition == 1)
            own = &node;
    }
    ASSERT_NE(signerNode, nullptr);
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(signerNode->description.contains("situação de revogação"))
        << signerNode->description.toStdString();
    const std::optional<selavia::desktop::CertificateView> view =
        selavia::app::certificateViewOf(*own, result);
    ASSERT_TRUE(view.has_value());
    EXPECT_TRUE(view->caveat.contains("revogação")) << "valid, but not called checked";
    EXPECT_TRUE(view->path.back().revocation.startsWith("Desconhecida"))
        << view->path.back().revocation.toStdString();
}

TEST(CertificateViewTest, ThePathMarksTheCertificatesTheVerificationFoundFaultWith)
{
    // The state, and root first, which certificates of the signer's path are marked.
    const std::vector<std::pair<const char*, std::vector<bool>>> rows = {
        {"aprovado", {false, false, false}},
        {"nao-confiavel", {true, false, false}},
        {"revogado", {false, false, true}},
        {"expirado-sem-carimbo", {false, false, true}},
    };
    for (const auto& [name, marks] : rows) {
        SCOPED_TRACE(name);
        const VerdictState& state = stateNamed(name);
        const QByteArray message = bytes(state.message);
        const verify::ValidationResult result =
            verify::Verification(stateOptions(state)).readBytes(name, message).run();
        std::optional<selavia::desktop::CertificateView> view;
        for (const verify::TreeNode& node : result.tree) {
            if (node.signer == 1 && node.chainPosition == 1)
                view = selavia::app::certificateViewOf(node, result);
        }
        ASSERT_TRUE(view.has_value());
        std::vector<bool> shown;
        for (const selavia::desktop::PathCertificate& certificate : view->path)
            shown.push_back(!certificate.valid);
        EXPECT_EQ(shown, marks);
        EXPECT_EQ(view->valid, std::count(marks.begin(), marks.end(), true) == 0);
        EXPECT_TRUE(view->caveat.isEmpty()) << "every state here carries its lists";
    }
}

// Every file under `folder`, however deep.
QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

TEST_F(WindowVerdictTest, CancelOrEscapeStopsASlowLoadAndLeavesNothingWritten)
{
    // A signer whose list of revoked certificates is on a server that takes
    // a minute to answer: the load waits until the user stops it.
    environment_.set("SELAVIA_OFFLINE", std::nullopt);
    HttpTestServer server;
    const SlowRevocation slow = slowRevocation(server);
    const QString path = dir_.filePath("lento.slv");
    fx::writeFile(path.toStdString(), slow.message);

    for (const bool byEscape : {false, true}) {
        SCOPED_TRACE(byEscape ? "Escape" : "Cancelar");
        const int asked = server.count(SlowRevocation::kList);
        FrmOpen window(desktop_, storeTrusting({&slow.root}));
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, &window, [&] {
            if (server.count(SlowRevocation::kList) == asked)
                return;
            watcher.stop();
            if (byEscape)
                QTest::keyClick(&window, Qt::Key_Escape);
            else
                QTest::mouseClick(control<QPushButton>(&window, "btnCancelar"), Qt::LeftButton);
        });
        watcher.start(20);
        QElapsedTimer took;
        took.start();
        window.Form_Load(path);
        EXPECT_LT(took.elapsed(), 30'000) << "stopped, not answered";
        EXPECT_FALSE(control<QWidget>(&window, "FrmLoading")->isVisible());
        EXPECT_FALSE(control<QWidget>(&window, "Tabs")->isVisible());
        EXPECT_EQ(control<QLabel>(&window, "lblErrorNum")->text(), "Verificação cancelada.");
        EXPECT_FALSE(control<QLabel>(&window, "lblVerdict")->isVisible()) << "nothing was judged";
        EXPECT_EQ(filesUnder(dir_.filePath("temp")), QStringList{})
            << "no copy of the document stays";
        // The window's Ok closes it.
        QTest::mouseClick(control<QPushButton>(&window, "BTN001"), Qt::LeftButton);
        EXPECT_TRUE(window.ended());
    }
}
