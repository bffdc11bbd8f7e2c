#include "platform/desktop/CertificateDialog.h"

#include "fileinfo/FileHandler.h"
#include "platform/desktop/Desktop.h"
#include "tests/support/Fixtures.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

using namespace selavia::testing;
using selavia::desktop::CertificateDialog;
using selavia::desktop::CertificateView;
using selavia::desktop::PathCertificate;

namespace {

// The holder the dialog tests show.
fx::Cert holder(std::time_t notBefore = 0, std::time_t notAfter = 0)
{
    return icpSigner("FULANO DE TAL:12345678901", "12345678901", notBefore, notAfter);
}

QString labelText(const QWidget& dialog, const char* name)
{
    const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    return label != nullptr ? label->text() : QStringLiteral("<no label %1>").arg(name);
}

// Field name → the value the box below the list shows when its row is selected.
std::map<QString, QString> selectedValues(QTreeWidget& list, const QPlainTextEdit& box)
{
    std::map<QString, QString> fields;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        list.setCurrentItem(list.topLevelItem(i));
        fields[list.topLevelItem(i)->text(0)] = box.toPlainText();
    }
    return fields;
}

// "06/12/2026 18:05:09 -03:00": São Paulo's offset, as CTest sets the zone.
const QRegularExpression kZonedTime(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d -03:00)");

const QString kUnknown = "Desconhecida: não foi possível consultar a situação de revogação";
const QString kAnchor = "Não se aplica: raiz confiável, não há emissor que a revogue";

PathCertificate entry(const fx::Cert& certificate, const QString& name,
                      const QStringList& problems = {}, const QString& revocation = kUnknown)
{
    return {bytes(certificate.der()), name, problems.isEmpty(), problems, revocation};
}

// The holder's path as the verification hands it over, root first; each
// certificate with the problems given for it.
CertificateView viewOf(const fx::Cert& shown, const QStringList& rootProblems = {},
                       const QStringList& shownProblems = {})
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    CertificateView view;
    view.path = {
        entry(icp.root, "Autoridade Certificadora Raiz Brasileira v5", rootProblems, kAnchor),
        entry(icp.intermediate, "AC Intermediaria de Teste v5"),
        entry(shown, "FULANO DE TAL:12345678901", shownProblems)};
    for (const PathCertificate& certificate : view.path)
        for (const QString& problem : certificate.problems)
            view.problems << certificate.name + ": " + problem;
    view.valid = view.problems.isEmpty();
    return view;
}

} // namespace

TEST(CertificateDialogTest, AValidCertificatesTabsNameItListEveryFieldAndNestItsPath)
{
    const fx::Cert shown = holder();
    const sig::Certificate certificate = sig::Certificate::fromDer(bytes(shown.der()));
    CertificateDialog dialog(viewOf(shown));
    auto* tabs = dialog.findChild<QTabWidget*>("certificateTabs");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 3);

    EXPECT_EQ(labelText(dialog, "issuedTo"), "FULANO DE TAL:12345678901");
    EXPECT_EQ(labelText(dialog, "issuedBy"), "AC Intermediaria de Teste v5");
    // Local times that say their offset, as every time of the dialog.
    const QString period = labelText(dialog, "validityPeriod");
    EXPECT_TRUE(period.contains(selavia::fileinfo::ZonedDateText(certificate.validFromDate())))
        << period.toStdString();
    EXPECT_TRUE(period.contains(selavia::fileinfo::ZonedDateText(certificate.validToDate())))
        << period.toStdString();
    EXPECT_EQ(period.count(kZonedTime), 2) << period.toStdString();
    EXPECT_EQ(labelText(dialog, "generalStatus"), "Este certificado é válido.");
    EXPECT_TRUE(labelText(dialog, "purposes").contains("Todas as finalidades"));

    // Details: every field, and the box shows the selected one in full.
    auto* list = dialog.findChild<QTreeWidget*>("detailsList");
    auto* value = dialog.findChild<QPlainTextEdit*>("detailValue");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(value, nullptr);
    ASSERT_GT(list->topLevelItemCount(), 9);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Versão");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "V3");
    EXPECT_EQ(value->toPlainText(), "V3") << "the first field is selected at first";

    std::map<QString, QString> fields = selectedValues(*list, *value);
    EXPECT_EQ(fields["Número de série"], certificate.serialNumber());
    EXPECT_EQ(fields["Emissor"], certificate.issuerName());
    EXPECT_EQ(fields["Requerente"], certificate.subjectName());
    EXPECT_EQ(fields["Válido até"], selavia::fileinfo::ZonedDateText(certificate.validToDate()));
    EXPECT_TRUE(kZonedTime.match(fields["Válido a partir de"]).hasMatch());
    EXPECT_EQ(fields["Algoritmo de assinatura"], "sha256WithRSAEncryption");
    EXPECT_EQ(list->topLevelItem(list->topLevelItemCount() - 1)->text(0),
              "Impressão digital (SHA-1)");
    EXPECT_EQ(fields["Impressão digital (SHA-1)"], certificate.thumbprint());

    const QString names = fields["Nome alternativo do requerente"];
    EXPECT_TRUE(names.contains("email:fulano@example.com.br")) << names.toStdString();
    EXPECT_TRUE(names.contains("othername:2.16.76.1.3.1:0102198012345678901"))
        << names.toStdString();

    // Every line in the box, one line in the list.
    QList<QTreeWidgetItem*> rows =
        list->findItems("Nome alternativo do requerente", Qt::MatchExactly);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(names.contains('\n'));
    EXPECT_FALSE(rows[0]->text(1).contains('\n'));

    // Path: the root above the intermediate above the certificate.
    auto* tree = dialog.findChild<QTreeWidget*>("pathTree");
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), "Autoridade Certificadora Raiz Brasileira v5");
    ASSERT_EQ(root->childCount(), 1);
    QTreeWidgetItem* intermediate = root->child(0);
    EXPECT_EQ(intermediate->text(0), "AC Intermediaria de Teste v5");
    ASSERT_EQ(intermediate->childCount(), 1);
    QTreeWidgetItem* signer = intermediate->child(0);
    EXPECT_EQ(signer->text(0), "FULANO DE TAL:12345678901");
    EXPECT_EQ(signer->childCount(), 0);
    EXPECT_EQ(tree->currentItem(), signer);
    // The status follows the selected certificate, the shown one at first.
    EXPECT_EQ(labelText(dialog, "pathStatus"),
              "Este certificado é válido.\n\nSituação de revogação: " + kUnknown);
    EXPECT_EQ(labelText(dialog, "revocationStatus"), kUnknown);
    tree->setCurrentItem(root);
    EXPECT_EQ(labelText(dialog, "pathStatus"),
              "Este certificado é válido.\n\nSituação de revogação: " + kAnchor);
}

TEST(CertificateDialogTest, ASignersOwnCertificateAlsoTellsWhatTheSignatureSays)
{
    const CertificateView certificate = viewOf(holder());
    const selavia::desktop::SignerDetails signer{
        "Carimbo do Tempo (ACT): 06/12/2026 18:05:09 - ACT de Teste",
        "Válido na data do carimbo do tempo (06/12/2026 18:05:09)",
        "Política de assinatura: AD-RB v2.3 (2.16.76.1.7.1.1.2.3) - conforme",
        {"Contra-assinatura: TABELIAO, 06/12/2026 18:06:09 - válida",
         "Contra-assinatura: OUTRO - inválida: a contra-assinatura não confere com o certificado"},
        {"o certificado do signatário não é o indicado na assinatura"}};
    CertificateDialog dialog(certificate, signer);
    EXPECT_EQ(labelText(dialog, "timeStamp"), signer.timeStamp);
    EXPECT_EQ(labelText(dialog, "validAtTimestamp"), signer.validAtTimestamp);
    EXPECT_EQ(labelText(dialog, "signaturePolicy"), signer.policy);
    EXPECT_EQ(labelText(dialog, "counterSignatures"), signer.counterSignatures.join('\n'));
    EXPECT_EQ(labelText(dialog, "signatureProblems"),
              "• o certificado do signatário não é o indicado na assinatura");
    // The certificate itself stays valid; the signature's trouble is told apart.
    EXPECT_EQ(labelText(dialog, "generalStatus"), "Este certificado é válido.");

    // Lines the signature has nothing to say for are left out; with nothing
    // at all, and for any other certificate, the dialog is what it was.
    CertificateDialog plain(certificate, selavia::desktop::SignerDetails{
                                             {}, {}, "Política de assinatura: 1.2.3", {}, {}});
    EXPECT_EQ(labelText(plain, "signaturePolicy"), "Política de assinatura: 1.2.3");
    EXPECT_EQ(plain.findChild<QLabel*>("validAtTimestamp"), nullptr);
    EXPECT_EQ(plain.findChild<QLabel*>("counterSignatures"), nullptr);
    const CertificateDialog empty(certificate, selavia::desktop::SignerDetails{});
    const CertificateDialog other(certificate);
    for (const CertificateDialog* none : {&empty, &other}) {
        EXPECT_EQ(none->findChild<QLabel*>("signaturePolicy"), nullptr);
        EXPECT_EQ(none->findChild<QLabel*>("timeStamp"), nullptr);
    }
}

namespace {

// Root first: whether each certificate of the path tab carries the mark.
std::vector<bool> pathMarks(const CertificateDialog& dialog)
{
    std::vector<bool> marks;
    const auto* tree = dialog.findChild<QTreeWidget*>("pathTree");
    for (QTreeWidgetItem* item = tree != nullptr ? tree->topLevelItem(0) : nullptr; item != nullptr;
         item = item->childCount() > 0 ? item->child(0) : nullptr)
        marks.push_back(!item->icon(0).isNull());
    return marks;
}

} // namespace

TEST(CertificateDialogTest, StatusNamesTheProblemsAndThePathMarksWhereTheyAre)
{
    const QStringList untrusted = {"a cadeia não chega a uma raiz confiável"};
    const QStringList expired = {"o certificado expirou"};
    // The problems of the root and of the shown certificate; the marks, root first.
    const std::vector<std::tuple<QStringList, QStringList, std::vector<bool>>> rows = {
        {{}, {}, {false, false, false}},
        {untrusted, {}, {true, false, false}},
        {{}, expired, {false, false, true}},
        {untrusted, expired, {true, false, true}},
    };
    for (const auto& [root, shown, marks] : rows) {
        SCOPED_TRACE((root + shown).join("; ").toStdString());
        CertificateDialog dialog(viewOf(holder(), root, shown));
        EXPECT_EQ(pathMarks(dialog), marks);
        const QString general = labelText(dialog, "generalStatus");
        EXPECT_EQ(general.startsWith("Este certificado não é válido:"), marks[0] || marks[2]);
        for (const QString& problem : root + shown)
            EXPECT_TRUE(general.contains(problem)) << general.toStdString();
    }

    CertificateDialog late(viewOf(holder(), {}, expired));
    EXPECT_TRUE(labelText(late, "pathStatus").contains("expirou"));
    auto* tree = late.findChild<QTreeWidget*>("pathTree");
    ASSERT_NE(tree, nullptr);
    tree->setCurrentItem(tree->topLevelItem(0));
    EXPECT_TRUE(labelText(late, "pathStatus").startsWith("Este certificado é válido.\n"))
        << "the status follows the selected certificate: the root is fine";

    // A check that could not be made is told beside the validity.
    CertificateView unchecked = viewOf(holder());
    unchecked.caveat = "Não foi possível consultar a situação de revogação";
    CertificateDialog caveat(unchecked);
    EXPECT_EQ(labelText(caveat, "generalStatus"), "Este certificado é válido.");
    EXPECT_EQ(labelText(caveat, "validityCaveat"), unchecked.caveat);
    EXPECT_EQ(late.findChild<QLabel*>("validityCaveat"), nullptr);

    // Nothing to show is an empty dialog, not a crash.
    CertificateDialog nothing{CertificateView{}};
    EXPECT_EQ(pathMarks(nothing), std::vector<bool>{});
}

TEST(CertificateDialogTest, TheDesktopShowsTheDialogModallyOverTheWindow)
{
    QWidget window;
    window.show();
    QString shown;
    QWidget* shownOver = nullptr;
    // exec() only returns once the dialog is closed, so close it from its own loop.
    QTimer::singleShot(0, [&shown, &shownOver] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<CertificateDialog*>(widget);
                dialog && dialog->isVisible()) {
                if (const auto* issuedTo = dialog->findChild<QLabel*>("issuedTo"))
                    shown = issuedTo->text();
                shownOver = dialog->parentWidget();
                EXPECT_TRUE(dialog->isModal());
                dialog->accept();
            }
        }
    });
    selavia::desktop::QtDesktop().showCertificate(&window, viewOf(holder()), std::nullopt);
    EXPECT_EQ(shown, "FULANO DE TAL:12345678901");
    EXPECT_EQ(shownOver, &window);
}

namespace {

// Whether `inner`, in global coordinates, lies inside `outer`.
bool inside(const QRect& outer, const QWidget& inner)
{
    return outer.contains(QRect(inner.mapToGlobal(QPoint(0, 0)), inner.size()));
}

} // namespace

TEST(CertificateDialogTest, ItFitsASmallScreenCentredOnItsParentAndScrollsInside)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();
    ASSERT_LE(available.height(), 600) << "test_desktop runs on an 800×600 screen";

    // A signer with much to say: the general tab is taller than the screen.
    QStringList problems;
    for (int i = 1; i <= 30; ++i)
        problems << QStringLiteral("problema %1 da assinatura").arg(i);
    const selavia::desktop::SignerDetails signer{
        "Carimbo do Tempo (ACT): 06/12/2026 18:05:09 -03:00 - ACT de Teste", {}, {}, {}, problems};

    QWidget parent;
    parent.setGeometry(
        QRect(QPoint(0, 0), QSize(500, 400)).translated(available.center() - QPoint(250, 200)));
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));

    CertificateDialog dialog(viewOf(holder()), signer, &parent);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(available.contains(dialog.frameGeometry()))
        << dialog.frameGeometry().height() << " > " << available.height();
    EXPECT_LE((dialog.frameGeometry().center() - parent.frameGeometry().center()).manhattanLength(),
              2);

    auto* buttons = dialog.findChild<QDialogButtonBox*>("buttons");
    ASSERT_NE(buttons, nullptr);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isVisible());
    EXPECT_TRUE(inside(available, *ok));
    EXPECT_TRUE(inside(dialog.frameGeometry(), *ok));
    // The rest is reached by scrolling inside the tab.
    auto* scroll = dialog.findChild<QScrollArea*>("generalScroll");
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);

    // Escape closes it, as any dialog.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    // Enter presses the button that has the focus.
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    // Where it fits, it keeps its own size.
    CertificateDialog plain(viewOf(holder()));
    plain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
    EXPECT_EQ(plain.size(), QSize(540, 600).boundedTo(available.size()));
}
