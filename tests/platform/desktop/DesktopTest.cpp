#include "platform/desktop/Desktop.h"

#include "fileinfo/FileHandler.h"
#include "tests/support/Printers.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace desktop = selavia::desktop;

namespace {

// Qt's dialogs as this platform shows them, answered from their own event
// loop: what they said, and the name typed before accepting (empty: cancel).
struct DialogSeen {
    QString acceptText;
    QString cancelText;
    QString nameLabel;
};

std::optional<QString> answerDialog(bool save, const QString& typedName, DialogSeen& seen)
{
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        if (const auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox")) {
            const QPushButton* accept =
                buttons->button(save ? QDialogButtonBox::Save : QDialogButtonBox::Open);
            const QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
            seen.acceptText = accept != nullptr ? accept->text() : QString();
            seen.cancelText = cancel != nullptr ? cancel->text() : QString();
        }
        if (const auto* label = dialog->findChild<QLabel*>("fileNameLabel"))
            seen.nameLabel = label->text();
        if (typedName.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typedName);
        // A refusal would come as a message box inside accept(): close it,
        // and the dialog, so the test fails instead of waiting.
        QTimer::singleShot(0, [dialog = QPointer<QFileDialog>(dialog)] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->reject();
            if (dialog)
                dialog->reject();
        });
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
    });
    desktop::FileDialogRequest request;
    request.title = QStringLiteral("Abrir Arquivo Assinado SLV ...");
    request.filter = QStringLiteral("Documento Assinado Selavia (*.slv)|*.slv");
    desktop::QtDesktop qt;
    return save ? qt.saveFileName(nullptr, request) : qt.openFileName(nullptr, request);
}

class TranslatedDesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { desktop::installTranslations(*QCoreApplication::instance()); }
};

} // namespace

TEST_F(TranslatedDesktopTest, OpenAndSaveDialogsSpeakPortugueseAndTakeATypedNewName)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("nao-existe.slv");
    DialogSeen open;
    EXPECT_EQ(answerDialog(false, missing, open), missing);
    EXPECT_EQ(open.acceptText, "&Abrir");
    EXPECT_EQ(open.cancelText, "Cancelar");
    EXPECT_EQ(open.nameLabel, "&Nome do arquivo:");

    DialogSeen save;
    EXPECT_EQ(answerDialog(true, QString(), save), std::nullopt);
    EXPECT_EQ(save.acceptText, "&Salvar");
    EXPECT_EQ(save.cancelText, "Cancelar");
}

TEST_F(TranslatedDesktopTest, ATextBoxsMenuSpeaksPortuguese)
{
    QLineEdit box(QStringLiteral("contrato.pdf"));
    std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << action->text().section(QLatin1Char('\t'), 0, 0); // without the shortcut
    for (const char* expected : {"&Copiar", "C&olar", "Selecionar tudo"})
        EXPECT_TRUE(texts.contains(expected)) << texts.join(" | ").toStdString();
}

TEST(FileDialogSizesTest, TheSizeColumnSpeaksThePropertiesPanelsUnits)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Name, size in bytes: the column says what the window's "Tamanho:" would.
    const std::vector<std::pair<QString, qint64>> files = {
        {"vazio.txt", 0}, {"pequeno.txt", 999}, {"contrato.slv", 1500}, {"anexo.pdf", 1234567}};
    for (const auto& [name, size] : files) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("pasta"));

    QFileDialog dialog;
    desktop::prepareFileDialog(dialog, {"Abrir", {}, "Todos os arquivos (*)|*", dir.path()}, false);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    dialog.setViewMode(QFileDialog::Detail);
    auto* view = dialog.findChild<QTreeView*>("treeView");
    ASSERT_NE(view, nullptr);
    const QAbstractItemModel* model = view->model();
    // The folder is read on a thread of the file system model.
    QTRY_COMPARE(model->rowCount(view->rootIndex()), int(files.size()) + 1);
    std::map<QString, QString> shown;
    for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
        shown[model->index(row, 0, view->rootIndex()).data().toString()] =
            model->index(row, 1, view->rootIndex()).data().toString();
    for (const auto& [name, size] : files)
        EXPECT_EQ(shown[name], selavia::fileinfo::SizeText(size)) << name.toStdString();
    EXPECT_EQ(shown["contrato.slv"], "1,5 KB");
    EXPECT_EQ(shown["anexo.pdf"], "1,23 MB");
    EXPECT_FALSE(shown["pasta"].contains("B")) << "a folder has no size of its own";
}

TEST(FileDialogSizesTest, TheTypeColumnNamesASignedFileByItsName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Content that the MIME database's look at the bytes takes for a PDF.
    for (const QString name : {"contrato.slv", "sem-extensao"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
    }
    QFileDialog dialog;
    desktop::prepareFileDialog(dialog, {"Abrir", {}, "Todos os arquivos (*)|*", dir.path()}, false);
    dialog.setViewMode(QFileDialog::Detail);
    auto* view = dialog.findChild<QTreeView*>("treeView");
    ASSERT_NE(view, nullptr);
    const QAbstractItemModel* model = view->model();
    QTRY_COMPARE(model->rowCount(view->rootIndex()), 2);
    std::map<QString, QString> types;
    for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
        types[model->index(row, 0, view->rootIndex()).data().toString()] =
            model->index(row, 2, view->rootIndex()).data().toString();
    EXPECT_EQ(types["contrato.slv"], "Documento Assinado Selavia");
    EXPECT_EQ(types["sem-extensao"], "Documento PDF") << "without a name, by the content";
}

TEST(FileDialogFilterTest, TheExtensionOfTheNameOrEveryFile)
{
    EXPECT_EQ(desktop::fileDialogFilter("Documento PDF", "contrato.pdf"),
              "Documento PDF (*.pdf)|*.pdf");
    EXPECT_EQ(desktop::fileDialogFilter("Arquivo tar comprimido", "dados.tar.gz"),
              "Arquivo tar comprimido (*.gz)|*.gz");
    for (const QString name : {"contrato", "contrato.", ""}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(desktop::fileDialogFilter("Documento de texto", name),
                  "Documento de texto (*)|*");
    }
    EXPECT_EQ(desktop::qtNameFilter(desktop::fileDialogFilter("Documento de texto", "leiame")),
              "Documento de texto (*)");
}

TEST(FileDialogFilterTest, EveryEntryOfAFilterIsOfferedInItsOrder)
{
    EXPECT_EQ(desktop::qtNameFilter("Assinados (*.slv *.pdf)|*.slv;*.pdf|Selavia (*.slv)|*.slv|"
                                    "PDF (*.pdf)|*.pdf"),
              "Assinados (*.slv *.pdf);;Selavia (*.slv);;PDF (*.pdf)");
}

TEST(IconThemeTest, WithoutADesktopThemeTypeIconsComeFromHicolorThenAdwaita)
{
    if (!QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
        GTEST_SKIP() << "Adwaita is not installed";
    // A bare window manager names no theme.
    QIcon::setThemeName(QString());
    QIcon::setFallbackThemeName(QString());
    desktop::useIconThemeFallbacks();
    EXPECT_EQ(QIcon::themeName(), "hicolor");
    EXPECT_EQ(QIcon::fallbackThemeName(), "Adwaita");
    // The generic icon of office documents, PDF among them.
    EXPECT_FALSE(QIcon::fromTheme(QStringLiteral("x-office-document")).isNull());

    // A theme the desktop names is kept.
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    desktop::useIconThemeFallbacks();
    EXPECT_EQ(QIcon::themeName(), "Adwaita");
}

TEST(FlatButtonTest, RaisedUnderThePointerAndWithTheFocus)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* box = new QLineEdit;
    auto* first = new QPushButton(QStringLiteral("&Abrir Documento Assinado"));
    auto* second = new QPushButton(QStringLiteral("&Ok"));
    layout->addWidget(box);
    layout->addWidget(first);
    layout->addWidget(second);
    desktop::giveFlatButtonFeedback(first);
    desktop::giveFlatButtonFeedback(second);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    box->setFocus();
    QTRY_VERIFY(box->hasFocus());
    EXPECT_TRUE(first->isFlat());

    QTest::mouseMove(first);
    EXPECT_FALSE(first->isFlat());
    QTest::mouseMove(second);
    EXPECT_TRUE(first->isFlat());
    EXPECT_FALSE(second->isFlat());

    // The keyboard's stop is visible too.
    first->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(first->hasFocus());
    EXPECT_FALSE(first->isFlat());
    second->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(second->hasFocus());
    EXPECT_TRUE(first->isFlat()) << "neither hovered nor focused";
}
