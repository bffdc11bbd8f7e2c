// The windows used without a mouse and through a screen reader, and on
// screens smaller than they are.

#include "DocumentWindowFixture.h"
#include "app/FrmMain.h"
#include "app/FrmOpen.h"
#include "platform/desktop/CertificateDialog.h"
#include "platform/desktop/Widgets.h"
#include "tests/support/Controls.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/SlowRevocation.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

using namespace selavia::testing;
using selavia::app::FrmMain;
using selavia::app::FrmOpen;

namespace {

QString describe(QAccessibleInterface* object)
{
    const QObject* owner = object->object();
    const QString name = owner != nullptr && !owner->objectName().isEmpty()
                             ? owner->objectName()
                             : QString::fromLatin1(owner ? owner->metaObject()->className() : "");
    return QStringLiteral("%1 (role %2)").arg(name).arg(static_cast<int>(object->role()));
}

// Every object a user can move the focus to, with no name to be read out.
QStringList unnamedFocusable(QWidget* window)
{
    QStringList found;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* object,
                                                               int depth) {
        if (object == nullptr || depth > 64)
            return;
        if (object->state().focusable && object->text(QAccessible::Name).trimmed().isEmpty())
            found << describe(object);
        for (int i = 0; i < object->childCount(); ++i)
            walk(object->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(window), 0);
    return found;
}

// The widgets Tab moves through, from the window's focus, once round.
QList<QWidget*> tabChain(QWidget* window)
{
    QList<QWidget*> chain;
    for (int i = 0; i < 40; ++i) {
        QWidget* focus = QApplication::focusWidget();
        if (focus == nullptr || chain.contains(focus))
            break;
        chain << focus;
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    (void)window;
    return chain;
}

bool activate(QWidget* window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

class KeyboardAccessTest : public DocumentWindowFixture {
protected:
    void TearDown() override
    {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "zFrmLegenda")
                top->close();
        }
        DocumentWindowFixture::TearDown();
    }

    FrmOpen& openDocument(const fx::Bytes& message, bool trusted = true)
    {
        return open(message, "contrato.slv", trusted);
    }
    FrmOpen& openContract(bool trusted = true)
    {
        return openDocument(fx::makeSignedMessage(icpMessage(icpSigner(), "contrato.pdf")),
                            trusted);
    }
    QPointer<QWidget> openLegend()
    {
        control<QAction>(window_.get(), "showlegenda")->trigger();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "zFrmLegenda" && top->isVisible())
                return top;
        }
        return nullptr;
    }
    // The dialog "Exibir Certificado" shows for the signer's own certificate.
    std::unique_ptr<selavia::desktop::CertificateDialog> certificateDialog()
    {
        auto* tree = control<QTreeWidget>(window_.get(), "tvSigns");
        const auto found =
            tree->findItems("FULANO DE TAL:98765432100", Qt::MatchExactly | Qt::MatchRecursive);
        if (found.isEmpty())
            return nullptr;
        tree->setCurrentItem(found.first());
        control<QAction>(window_.get(), "showcertificate")->trigger();
        if (desktop_.certificatesShown.empty())
            return nullptr;
        return std::make_unique<selavia::desktop::CertificateDialog>(
            desktop_.certificatesShown.back(), desktop_.signersShown.back());
    }
};

} // namespace

TEST_F(KeyboardAccessTest, EveryFocusableObjectOfEachWindowHasAName)
{
    FrmMain main(desktop_, {});
    main.show();
    EXPECT_EQ(unnamedFocusable(&main), QStringList()) << "welcome window";

    FrmOpen& window = openContract();
    auto* tabs = control<QTabWidget>(&window, "Tabs");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        EXPECT_EQ(unnamedFocusable(&window), QStringList()) << "document window, tab " << i;
    }
    const QPointer<QWidget> legend = openLegend();
    ASSERT_NE(legend, nullptr);
    EXPECT_EQ(unnamedFocusable(legend), QStringList()) << "legend";
    legend->close();

    auto dialog = certificateDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->show();
    for (QTabWidget* pages : dialog->findChildren<QTabWidget*>()) {
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            EXPECT_EQ(unnamedFocusable(dialog.get()), QStringList()) << "certificate, tab " << i;
        }
    }

    const fx::MessageSpec spec = icpMessage(icpSigner(), "contrato.pdf");
    FrmOpen& failed = openDocument(fx::tamperContent(fx::makeSignedMessage(spec), spec.content));
    ASSERT_TRUE(control<QWidget>(&failed, "FrmError")->isVisible());
    EXPECT_EQ(unnamedFocusable(&failed), QStringList()) << "error panel";
}

TEST_F(KeyboardAccessTest, TheSignersNodeTellsItsClassAndVerdictToScreenReaders)
{
    const struct {
        bool trusted;
        const char* caption;
    } cases[] = {{true, "Certificado ICP-Brasil - Válido"},
                 {false, "Certificado ICP-Brasil - Inválido"}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.caption);
        FrmOpen& window = openContract(row.trusted);
        control<QTabWidget>(&window, "Tabs")->setCurrentIndex(2);
        auto* tree = control<QTreeWidget>(&window, "tvSigns");
        QAccessibleInterface* treeAccess = QAccessible::queryAccessibleInterface(tree);
        ASSERT_NE(treeAccess, nullptr);
        QString description;
        for (int i = 0; i < treeAccess->childCount(); ++i) {
            QAccessibleInterface* item = treeAccess->child(i);
            if (item != nullptr && item->text(QAccessible::Name) == "FULANO DE TAL")
                description = item->text(QAccessible::Description);
        }
        const QStringList lines = description.split('\n');
        ASSERT_GE(lines.size(), 2) << description.toStdString();
        EXPECT_EQ(lines[0], QString::fromUtf8(row.caption));
        // The verdict line the window shows above the tabs.
        EXPECT_EQ(lines[1], control<QLabel>(&window, "lblVerdict")->text());
    }
}

TEST_F(KeyboardAccessTest, OurWindowsTellTheyAreWindows)
{
    selavia::desktop::installWindowAccessibility();
    FrmMain main(desktop_, {});
    FrmOpen& window = openContract();
    const QPointer<QWidget> legend = openLegend();
    ASSERT_NE(legend, nullptr);
    for (QWidget* top :
         {static_cast<QWidget*>(&main), static_cast<QWidget*>(&window), legend.data()}) {
        SCOPED_TRACE(top->objectName().toStdString());
        EXPECT_EQ(QAccessible::queryAccessibleInterface(top)->role(), QAccessible::Window);
    }
    // A control keeps its own role.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(control<QWidget>(&window, "BTN001"))->role(),
              QAccessible::Button);
}

TEST_F(KeyboardAccessTest, EnterPressesTheFocusedButtonOfEachWindow)
{
    FrmMain main(desktop_, {});
    ASSERT_TRUE(activate(&main));
    // The open button has the focus from the start.
    EXPECT_EQ(QApplication::focusWidget(), control<QWidget>(&main, "Command2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(desktop_.openRequests.size(), 1u);
    main.hide();

    FrmOpen& window = openContract();
    ASSERT_TRUE(activate(&window));
    auto* extract = control<QPushButton>(&window, "BTN003");
    extract->setFocus();
    QTest::keyClick(extract, Qt::Key_Enter);
    EXPECT_EQ(desktop_.saveRequests.size(), 1u);

    const QPointer<QWidget> legend = openLegend();
    ASSERT_NE(legend, nullptr);
    QTest::keyClick(control<QWidget>(legend, "Command2"), Qt::Key_Return);
    EXPECT_TRUE(legend.isNull() || !legend->isVisible());
    EXPECT_TRUE(window.isEnabled());
}

TEST_F(KeyboardAccessTest, TheLegendOpensCentredWithTheFocusAndEscapeClosesItThenTheWindow)
{
    FrmOpen& window = openContract();
    ASSERT_TRUE(activate(&window));
    window.move(120, 40);
    const QPointer<QWidget> legend = openLegend();
    ASSERT_NE(legend, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(legend));
    const QPoint offset = legend->frameGeometry().center() - window.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->window(), legend.data());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(legend.isNull() || !legend->isVisible());
    EXPECT_TRUE(window.isEnabled());
    EXPECT_FALSE(window.ended());

    ASSERT_TRUE(activate(&window));
    control<QWidget>(&window, "tvSigns")->setFocus();
    QTest::keyClick(control<QWidget>(&window, "tvSigns"), Qt::Key_Escape);
    EXPECT_TRUE(window.ended());
}

TEST_F(KeyboardAccessTest, TabSkipsTheValueBoxesWhichAClickStillSelectsForCopying)
{
    FrmOpen& window = openContract();
    ASSERT_TRUE(activate(&window));
    control<QWidget>(&window, "BTN001")->setFocus();
    const QList<QWidget*> chain = tabChain(&window);
    EXPECT_GE(chain.size(), 4);
    for (QWidget* stop : chain) {
        const auto* box = qobject_cast<QLineEdit*>(stop);
        EXPECT_FALSE(box != nullptr && box->isReadOnly()) << stop->objectName().toStdString();
    }
    auto* name = control<QLineEdit>(&window, "Text1");
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_TRUE(name->hasFocus());
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(name, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "contrato.slv");
}

TEST_F(KeyboardAccessTest, TheWelcomeLinksAreReachedWithTabAndFollowedWithEnter)
{
    FrmMain main(desktop_, {});
    ASSERT_TRUE(activate(&main));
    const QList<QWidget*> chain = tabChain(&main);
    for (const char* link : {"Label2", "Label11"}) {
        SCOPED_TRACE(link);
        QWidget* label = control<QWidget>(&main, link);
        EXPECT_TRUE(chain.contains(label));
        const std::size_t before = desktop_.opened.size();
        label->setFocus();
        QTest::keyClick(label, Qt::Key_Return);
        ASSERT_EQ(desktop_.opened.size(), before + 1);
        EXPECT_EQ(desktop_.opened.back(), QUrl(QString::fromUtf8(selavia::app::kWebAddress)));
    }
}

TEST_F(KeyboardAccessTest, EveryTabCaptionIsInViewWhereTheScreenHasRoom)
{
    FrmOpen& window = openContract();
    QApplication::processEvents();
    const QTabBar* bar = control<QTabWidget>(&window, "Tabs")->tabBar();
    ASSERT_EQ(bar->count(), 4);
    for (int i = 0; i < bar->count(); ++i) {
        SCOPED_TRACE(bar->tabText(i).toStdString());
        EXPECT_TRUE(bar->rect().contains(bar->tabRect(i)));
    }
}

// Run twice by the suite: on its 800×600 screen and at twice the scale,
// where that screen holds 400×300.
TEST_F(KeyboardAccessTest, EachWindowFitsTheScreenAndScrollsWhatDoesNotFit)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const auto fits = [&](QWidget* window) {
        SCOPED_TRACE(window->objectName().toStdString());
        // As the user sees it: once the layouts have followed the fitting.
        QApplication::processEvents();
        EXPECT_TRUE(screen.contains(window->frameGeometry()))
            << window->frameGeometry().width() << "x" << window->frameGeometry().height() << " on "
            << screen.width() << "x" << screen.height();
        // What the window cannot show, its scroll bars reach.
        for (QScrollArea* area : window->findChildren<QScrollArea*>()) {
            if (area->objectName() != "scrollArea")
                continue;
            const QSize needed = area->widget()->minimumSizeHint();
            const QSize shown = area->viewport()->size();
            if (needed.height() > shown.height()) {
                EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
            }
            if (needed.width() > shown.width()) {
                EXPECT_GT(area->horizontalScrollBar()->maximum(), 0);
            }
        }
    };
    FrmMain main(desktop_, {});
    main.show();
    fits(&main);
    FrmOpen& window = openContract();
    fits(&window);
    const QPointer<QWidget> legend = openLegend();
    ASSERT_NE(legend, nullptr);
    fits(legend);
    legend->close();
    auto dialog = certificateDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->setParent(&window, dialog->windowFlags());
    dialog->show();
    fits(dialog.get());
    // Its OK stays in view, outside what scrolls.
    const QWidget* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    EXPECT_TRUE(ok->isVisible());
    EXPECT_TRUE(dialog->rect().contains(QRect(ok->mapTo(dialog.get(), QPoint()), ok->size())));
}

TEST_F(KeyboardAccessTest, DuringALoadCancelarHasTheFocusAndEnterStopsIt)
{
    selavia::testing::HttpTestServer server;
    const SlowRevocation slow = slowRevocation(server);
    const QString path = dir_.filePath("lento.slv");
    fx::writeFile(path.toStdString(), slow.message);
    window_ = std::make_unique<FrmOpen>(desktop_, storeTrusting({&slow.root}));
    QString focusName;
    QTimer watcher;
    // Once the list is being awaited, the user presses Enter on what has the focus.
    QObject::connect(&watcher, &QTimer::timeout, window_.get(), [&] {
        QWidget* focus = QApplication::focusWidget();
        if (server.count(SlowRevocation::kList) == 0 || focus == nullptr || !focusName.isEmpty())
            return;
        focusName = QAccessible::queryAccessibleInterface(focus)->text(QAccessible::Name);
        EXPECT_EQ(focus->objectName(), "btnCancelar");
        QTest::keyClick(focus, Qt::Key_Return);
    });
    activate(window_.get());
    watcher.start(20);
    window_->Form_Load(path);
    watcher.stop();
    EXPECT_EQ(focusName, "Cancelar");
    EXPECT_EQ(control<QLabel>(window_.get(), "lblErrorNum")->text(), "Verificação cancelada.");
    // Then the window's Ok, for Enter or Escape to close it.
    EXPECT_EQ(QApplication::focusWidget(), control<QWidget>(window_.get(), "BTN001"));
}
