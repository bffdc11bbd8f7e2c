#include "app/FrmMain.h"

#include "tests/support/Controls.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Printers.h"

#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <array>
#include <gtest/gtest.h>

using selavia::app::FrmMain;

namespace {

const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);
const QString kOpenFilter =
    "Documento Assinado Selavia (*.slv)|*.slv|"
    "Assinaturas (*.p7s *.p7m)|*.p7s;*.p7m|"
    "Documento PDF assinado (*.pdf)|*.pdf|"
    "Todos os arquivos assinados (*.slv *.p7s *.p7m *.pdf)|*.slv;*.p7s;*.p7m;*.pdf";

class FrmMainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_ = std::make_unique<FrmMain>(desktop_, [this](const QString& path) {
            handedOver_.push_back(path);
            visibleAtHandOver_ = window_->isVisible();
        });
    }
    void TearDown() override
    {
        window_.reset();
        qunsetenv("MYDOC");
    }

    FrmMain& shown()
    {
        window_->Form_Load();
        window_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        return *window_;
    }

    template <typename T = QWidget> T* control(const char* name) const
    {
        return selavia::testing::control<T>(window_.get(), name);
    }
    QLabel* label(const char* name) const { return control<QLabel>(name); }

    // Moves the pointer as a person would: the platform reports the move to
    // whatever control is under the pointer there.
    void moveOnto(QWidget* widget, QPoint position = {})
    {
        if (position.isNull())
            position = widget->rect().center();
        // The platform reports nothing when the pointer does not move.
        if (QCursor::pos() == widget->mapToGlobal(position))
            position += QPoint(1, 0);
        QTest::mouseMove(widget, position);
        ASSERT_EQ(QCursor::pos(), widget->mapToGlobal(position));
    }
    void moveOnto(const char* name) { moveOnto(control(name)); }

    // A point of the window that no control covers.
    QPoint background() const
    {
        const QRect last = control("Label10")->geometry();
        const QPoint point(last.left(), last.bottom() + 12);
        const QWidget* under = window_->childAt(point);
        EXPECT_TRUE(under != nullptr && under->objectName() == "face") << "not bare background";
        return point;
    }
    void moveOverBackground() { moveOnto(window_.get(), background()); }

    // Drags `data` over the control `over` and drops it there, as the
    // platform delivers a drag: to the window, which hands it to the control
    // under the pointer or the nearest one that takes drops. False when the
    // drag or the drop was refused.
    bool dropOnto(const QMimeData& data, const char* over = "Label6")
    {
        QWindow* handle = window_->windowHandle();
        const QPoint where = control(over)->mapTo(window_.get(), control(over)->rect().center());
        QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &enter);
        if (!enter.isAccepted()) {
            QDragLeaveEvent leave;
            QCoreApplication::sendEvent(handle, &leave);
            return false;
        }
        QDropEvent drop(QPointF(where), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &drop);
        return drop.isAccepted();
    }
    static std::unique_ptr<QMimeData> urls(const QList<QUrl>& list)
    {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(list);
        return data;
    }

    static QColor colour(const QLabel* link) { return link->palette().color(QPalette::WindowText); }
    static bool underlined(const QLabel* link) { return link->font().underline(); }
    void expectLink(const char* name, const QColor& expected, bool underline) const
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(colour(label(name)), expected);
        EXPECT_EQ(underlined(label(name)), underline);
    }

    FakeDesktop desktop_;
    std::unique_ptr<FrmMain> window_;
    std::vector<QString> handedOver_;
    bool visibleAtHandOver_ = true;
};

} // namespace

// --- Captions and version texts ---------------------------------------------

TEST(FrmMainVersion, TextsAreBuiltFromThePlainNumbers)
{
    EXPECT_EQ(selavia::app::versionCaption(2, 1, 6), "Selavia Reader 2.1.6");
    EXPECT_EQ(selavia::app::versionText(2, 1, 6), "v.2.1.6");
    EXPECT_EQ(selavia::app::versionCaption(10, 0, 12), "Selavia Reader 10.0.12");
    EXPECT_EQ(selavia::app::versionText(10, 0, 12), "v.10.0.12");
}

TEST_F(FrmMainTest, LoadPutsTheVersionIntoTheCaptionAndBesideTheTitle)
{
    EXPECT_EQ(window_->windowTitle(), "Selavia Reader");
    EXPECT_EQ(label("lblSysVersion")->text(), "versão");
    window_->Form_Load();
    EXPECT_EQ(window_->windowTitle(), "Selavia Reader 2.1.6");
    EXPECT_EQ(label("lblSysVersion")->text(), "v.2.1.6");
    EXPECT_EQ(label("Label4")->text(), "Selavia Reader");
}

// --- Controls and layout -----------------------------------------------------

TEST_F(FrmMainTest, WindowHasAFixedSizeNoMaximizeButtonAndOpensCentred)
{
    FrmMain& window = shown();
    // Its full size, never larger; smaller only on a screen that is.
    EXPECT_EQ(window.size(), window.maximumSize());
    EXPECT_GE(window.width(), 545);
    EXPECT_GE(window.height(), 345);
    // "About" 545×345: only wider fonts than the usual ones may stretch it.
    EXPECT_LE(window.width(), 700);
    EXPECT_LE(window.height(), 400);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(window.windowIcon().isNull());
    const QPoint offset =
        window.frameGeometry().center() - window.screen()->availableGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);
}

TEST_F(FrmMainTest, LayoutReadsAsDesignedAndCutsNoText)
{
    FrmMain& window = shown();
    auto at = [&](const char* name) { return control(name)->geometry(); };
    for (QLabel* text : window.findChildren<QLabel*>()) {
        if (text->text().isEmpty())
            continue;
        SCOPED_TRACE(text->objectName().toStdString());
        EXPECT_GE(text->width(), text->sizeHint().width()) << "text cut short";
        EXPECT_GE(text->height(), text->fontMetrics().height());
        EXPECT_TRUE(window.rect().contains(text->geometry())) << "outside the window";
    }
    // The strip on the left, full height, then the etched rule.
    EXPECT_EQ(at("Picture1"), QRect(0, 0, 121, window.height()));
    EXPECT_EQ(at("Line3").left(), 121);
    EXPECT_EQ(at("Line4").left(), 122);
    EXPECT_EQ(at("Line3").height(), window.height());
    EXPECT_EQ(at("Line2").top(), at("Line1").top() + 1);
    // The version text right of the title, bottoms together.
    EXPECT_GT(at("lblSysVersion").left(), at("Label4").right());
    EXPECT_LE(std::abs(at("lblSysVersion").bottom() - at("Label4").bottom()), 1);
    // The maker's name inline on the description's second line.
    EXPECT_EQ(at("Label1").top(), at("Label2").top());
    EXPECT_GT(at("Label2").left(), at("Label1").right());
    EXPECT_EQ(at("Label5").left(), at("Label2").right() + 1);
    EXPECT_GT(at("Label1").top(), at("Label3").bottom());
    // Bullets beside their lines, the fourth feature's second line under it.
    for (const auto& [image, text] : {std::pair{"Image1", "Label6"},
                                      {"Image2", "Label7"},
                                      {"Image3", "Label8"},
                                      {"Image4", "Label9"}}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(at(image).center().y(), at(text).center().y());
        EXPECT_GT(at(text).left(), at(image).right());
    }
    EXPECT_EQ(at("Label10").left(), at("Label9").left());
    EXPECT_GT(at("Label10").top(), at("Label9").top());
    EXPECT_LT(at("Label10").top() - at("Label9").bottom(), 4) << "reads as a line of its own";
    // The hot zone covers the web link's icon and both its lines.
    for (const char* name : {"Image6", "Label13", "Label12"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(at("Label11").contains(at(name)));
        EXPECT_EQ(window.childAt(at(name).center()), control("Label11"));
    }
    for (const char* name : {"Picture1", "Image1", "Image2", "Image3", "Image4", "Image6"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(label(name)->pixmap().isNull()) << "a picture is missing";
    }
    // Buttons at the bottom: one under the text column, one at the rule's end.
    EXPECT_EQ(at("Command2").left(), at("Label3").left());
    EXPECT_EQ(at("Command1").right(), at("Line1").right());
    EXPECT_EQ(at("Command1").top(), at("Command2").top());
    EXPECT_GT(at("Command2").top(), at("Label12").bottom());
    // Flat buttons show only their captions, so they hug them.
    for (const char* name : {"Command1", "Command2"}) {
        SCOPED_TRACE(name);
        const auto* button = control<QPushButton>(name);
        const int caption = button->fontMetrics().horizontalAdvance(button->text().remove('&'));
        EXPECT_GE(button->width() - caption, 8);
        EXPECT_LE(button->width() - caption, 16);
    }
}

// --- Link colours and the window's pointer ----------------------------------

TEST_F(FrmMainTest, LinksStartAsTheirOwnColoursWithTheHandPointer)
{
    shown();
    expectLink("Label2", kBlue, false);
    EXPECT_EQ(colour(label("Label12")), colour(label("Label6")));
    EXPECT_FALSE(underlined(label("Label12")));
    EXPECT_FALSE(underlined(label("Label13")));
    // The links' hand is checked with the pointer's moves below. The strip
    // and the buttons show the arrow; plain labels the window's hand.
    EXPECT_EQ(control("Picture1")->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(control("Command1")->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(control("Command2")->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(control("Label6")->cursor().shape(), Qt::PointingHandCursor);
}

// Each row: the controls the pointer moves onto in a fresh window ("" for
// the bare background), and the link highlighted after. The web link's icon
// and both its lines are one link; the etched rules count as background;
// other controls pass the pointer's moves on, so a link stays highlighted.
TEST_F(FrmMainTest, ThePointerHighlightsTheLinkItCrossedLastUntilItReachesTheBackground)
{
    enum Lit { None, Maker, Web };
    struct Row {
        std::vector<const char*> moves;
        Lit lit;
    };
    const Row rows[] = {
        {{"", "Label2"}, Maker},
        {{"", "Image6"}, Web},
        {{"", "Label13"}, Web},
        {{"", "Label12"}, Web},
        {{"Label2", "Label12", ""}, None},
        {{"Label2", "Line1"}, None},
        {{"Label2", "Line3"}, None},
        {{"Label2", "Label6"}, Maker},
        {{"Label2", "Image1"}, Maker},
        {{"Label2", "Label3"}, Maker},
        {{"Label2", "Label4"}, Maker},
        {{"Label2", "Picture1"}, Maker},
        {{"Label2", "Command1"}, Maker},
        {{"", "Label13", "Label10"}, Web},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.moves.front() << " → " << row.moves.back());
        window_.reset();
        SetUp();
        shown();
        bool background = false;
        for (const char* name : row.moves) {
            background |= *name == '\0' || QByteArray(name).startsWith("Line");
            *name == '\0' ? moveOverBackground() : moveOnto(name);
        }
        expectLink("Label2", row.lit == Maker ? kBlue : kBlack, row.lit == Maker);
        expectLink("Label12", row.lit == Web ? kBlue : kBlack, row.lit == Web);
        expectLink("Label13", row.lit == Web ? kBlue : kBlack, row.lit == Web);
        // Only the background turns the window's pointer to the arrow; the
        // links keep their own hand.
        EXPECT_EQ(window_->cursor().shape(), background ? Qt::ArrowCursor : Qt::PointingHandCursor);
        EXPECT_EQ(control("Label2")->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_EQ(control("Label11")->cursor().shape(), Qt::PointingHandCursor);
    }
}

TEST_F(FrmMainTest, EveryMoveOverALinkHighlightsItNotJustTheFirst)
{
    shown();
    QLabel* name = label("Label2");
    moveOnto(name, QPoint(2, name->height() / 2));
    expectLink("Label2", kBlue, true);
    // Something else dims the link while the pointer stays over it.
    QPalette palette = name->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    name->setPalette(palette);
    moveOnto(name, QPoint(name->width() - 3, name->height() / 2));
    expectLink("Label2", kBlue, true);
}

TEST_F(FrmMainTest, ClickingEitherLinkOpensTheWebAddressOrSaysThereIsNoBrowser)
{
    shown();
    QTest::mouseClick(control("Label2"), Qt::LeftButton);
    ASSERT_EQ(desktop_.opened.size(), 1u);
    EXPECT_EQ(desktop_.opened[0], QUrl("https://selavia.example/"));
    QTest::mouseClick(control("Label11"), Qt::LeftButton, {},
                      control("Label13")->geometry().center() - control("Label11")->pos());
    ASSERT_EQ(desktop_.opened.size(), 2u);
    EXPECT_EQ(desktop_.opened[1], QUrl("https://selavia.example/"));
    // Released away from the link: no click.
    QWidget* name = control("Label2");
    QTest::mousePress(name, Qt::LeftButton);
    QTest::mouseRelease(name, Qt::LeftButton, {}, QPoint(name->width() + 20, 2));
    EXPECT_EQ(desktop_.opened.size(), 2u);
    EXPECT_EQ(desktop_.ends, 0);
    EXPECT_TRUE(window_->isVisible());

    desktop_.openResult = false;
    QTest::mouseClick(control("Label2"), Qt::LeftButton);
    EXPECT_TRUE(desktop_.onlyMessage(selavia::desktop::MessageIcon::Information)
                    .contains("https://selavia.example/"));
    EXPECT_TRUE(window_->isVisible());
}

// How a flat button rises is the desktop layer's; here, that both rise.
TEST_F(FrmMainTest, TheFlatButtonsRiseUnderThePointerOrWithTheFocusSoTheyReadAsButtons)
{
    shown();
    window_->activateWindow();
    auto* open = control<QPushButton>("Command2");
    auto* ok = control<QPushButton>("Command1");
    ok->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(ok->hasFocus());
    EXPECT_FALSE(ok->isFlat()) << "the keyboard's stop shows";
    EXPECT_TRUE(open->isFlat());
    moveOnto(open);
    EXPECT_FALSE(open->isFlat());
    moveOverBackground();
    EXPECT_TRUE(open->isFlat());
}

// --- The open dialog and the hand-over --------------------------------------

TEST_F(FrmMainTest, CancellingTheOpenDialogChangesNothing)
{
    qunsetenv("MYDOC");
    shown();
    desktop_.openAnswer = std::nullopt;
    // Without MYDOC the dialog chooses its own folder.
    for (const QString mydoc : {"", "/home/fulano/Documentos", "/home/fulano/Documentos"}) {
        SCOPED_TRACE(mydoc.toStdString());
        if (!mydoc.isEmpty())
            qputenv("MYDOC", mydoc.toLocal8Bit());
        QTest::mouseClick(control("Command2"), Qt::LeftButton);
        ASSERT_FALSE(desktop_.openRequests.empty());
        const auto& request = desktop_.openRequests.back();
        EXPECT_EQ(request.title, "Abrir Arquivo Assinado SLV ...");
        EXPECT_EQ(request.fileName, "");
        EXPECT_EQ(request.filter, kOpenFilter);
        EXPECT_EQ(request.initialFolder, mydoc);
    }
    EXPECT_EQ(desktop_.openRequests.size(), 3u);
    EXPECT_EQ(window_->windowTitle(), "Selavia Reader 2.1.6");
    // An empty answer is no choice either.
    desktop_.openAnswer = QString();
    QTest::mouseClick(control("Command2"), Qt::LeftButton);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(handedOver_.empty());
    EXPECT_EQ(desktop_.ends, 0);
}

// The dialog's entries as it shows them: the program's own kind first (the
// one chosen), then signatures, PDFs, and every kind together.
TEST_F(FrmMainTest, TheOpenDialogOffersEachSignedKindSlvFirst)
{
    shown();
    desktop_.openAnswer = std::nullopt;
    QTest::mouseClick(control("Command2"), Qt::LeftButton);
    ASSERT_EQ(desktop_.openRequests.size(), 1u);
    const QStringList entries =
        selavia::desktop::qtNameFilter(desktop_.openRequests[0].filter).split(";;");
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0], "Documento Assinado Selavia (*.slv)");
    const auto takes = [](const QString& entry, const QString& name) {
        const QString patterns = entry.section('(', -1).chopped(1);
        return QDir::match(patterns.split(' '), name);
    };
    const std::pair<QString, std::array<bool, 4>> rows[] = {
        {"contrato.slv", {true, false, false, true}},
        {"contrato.pdf.p7s", {false, true, false, true}},
        {"contrato.pdf.p7m", {false, true, false, true}},
        {"contrato.pdf", {false, false, true, true}},
        {"contrato.p7c", {false, false, false, false}},
        {"leia.txt", {false, false, false, false}},
    };
    for (const auto& [name, taken] : rows) {
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(takes(entries[i], name), taken[i])
                << entries[i].toStdString() << " " << name.toStdString();
    }
}

TEST_F(FrmMainTest, AChosenFileClosesThisWindowThenOpensTheDocument)
{
    shown();
    // Handed on untested: the document window reports what it cannot read.
    const QString path = "/tmp/pasta com espaços/contrato.SLV.lnk";
    desktop_.openAnswer = path;
    QTest::mouseClick(control("Command2"), Qt::LeftButton);
    ASSERT_EQ(handedOver_.size(), 1u);
    EXPECT_EQ(handedOver_[0], path);
    EXPECT_FALSE(visibleAtHandOver_) << "the main window must close before the document opens";
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(desktop_.ends, 0);
    // Closing again ends nothing: the document window owns the program now.
    window_->close();
    EXPECT_EQ(desktop_.ends, 0);
    EXPECT_EQ(handedOver_.size(), 1u);
}

// --- Drag and drop -----------------------------------------------------------

TEST_F(FrmMainTest, OneDroppedFileOpensAsIfChosenInTheDialog)
{
    shown();
    // Any file, of any kind and even gone: the document window tells what
    // it cannot read, as for a name typed in the dialog.
    const QString path = "/tmp/pasta com espaços/contrato.pdf.p7s";
    EXPECT_TRUE(dropOnto(*urls({QUrl::fromLocalFile(path)}), "Label10"));
    // After the drop has ended, not inside it.
    EXPECT_TRUE(handedOver_.empty());
    QTRY_COMPARE(handedOver_.size(), 1u);
    EXPECT_EQ(handedOver_[0], path);
    EXPECT_FALSE(visibleAtHandOver_) << "the main window must close before the document opens";
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(desktop_.ends, 0);
    EXPECT_TRUE(desktop_.openRequests.empty());
}

TEST_F(FrmMainTest, SeveralFilesAFolderOrAnAddressAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("contrato.slv");
    ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    shown();
    auto text = std::make_unique<QMimeData>();
    text->setText(file);
    const std::pair<const char*, std::unique_ptr<QMimeData>> refused[] = {
        {"two files", urls({QUrl::fromLocalFile(file), QUrl::fromLocalFile(file + ".p7s")})},
        {"a folder", urls({QUrl::fromLocalFile(dir.path())})},
        {"a web address", urls({QUrl("https://selavia.example/contrato.slv")})},
        {"no address at all", urls({})},
        {"a path as text", std::move(text)},
    };
    for (const auto& [name, data] : refused) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(dropOnto(*data));
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(handedOver_.empty());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(desktop_.ends, 0);
    // The window still takes one file afterwards.
    EXPECT_TRUE(dropOnto(*urls({QUrl::fromLocalFile(file)})));
    QTRY_COMPARE(handedOver_.size(), 1u);
    EXPECT_EQ(handedOver_[0], file);
}

TEST_F(FrmMainTest, OkAndTheCloseBoxEndTheProgram)
{
    shown();
    QTest::mouseClick(control("Command1"), Qt::LeftButton);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(desktop_.ends, 1);
    EXPECT_TRUE(handedOver_.empty());

    window_.reset();
    SetUp();
    shown();
    window_->close();
    EXPECT_EQ(desktop_.ends, 2);
    EXPECT_TRUE(desktop_.openRequests.empty());
}
