// selavia-screenshots OUTDIR: opens the document window on documents made
// here, one per state, and saves what it shows as PNG files.

#include "app/CertificateView.h"
#include "app/FrmMain.h"
#include "app/FrmOpen.h"
#include "fileinfo/FileHandler.h"
#include "platform/desktop/CertificateDialog.h"
#include "report/VerificationReport.h"
#include "tools/fixtures/FixtureBuilder.h"
#include "tools/fixtures/PdfFixtures.h"
#include "verify/Verification.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>

namespace fx = selavia::fixtures;
namespace pdfx = selavia::fixtures::pdf;
namespace sig = selavia::signature;

namespace {

// Message boxes are noted on the console instead of waiting for a person.
class UnattendedDesktop : public selavia::desktop::QtDesktop {
public:
    void message(QWidget*, selavia::desktop::MessageIcon, const QString& title,
                 const QString& text) override
    {
        std::printf("[%s] %s\n", qPrintable(title), qPrintable(text));
    }
    void endProgram() override {}
};

fx::MessageSpec document(const std::string& name, bool twoSigners = false)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    fx::MessageSpec spec;
    spec.content = "%PDF-1.4\n% contrato\n%%EOF\n";
    fx::SignerSpec first{.cert = fx::issueEndEntity(icp.intermediate, "MARIA DA SILVA:12345678901",
                                                    {fx::SanEntry::email("maria@example.com.br"),
                                                     fx::icpPersonal("01021980", "12345678901")})};
    first.attributes = {fx::documentDescriptionAttribute("<ct>CARIMBO_ON</ct>")};
    if (!name.empty())
        first.attributes.push_back(fx::documentNameAttribute(name));
    spec.signers = {first};
    if (twoSigners)
        spec.signers.push_back(
            {.cert = fx::issueEndEntity(fx::foreignHierarchy().intermediate, "John Doe")});
    spec.extraCertificates = {icp.intermediate, icp.root, fx::foreignHierarchy().intermediate};
    return spec;
}

pdfx::SignSpec pdfSignature(const std::string& commonName, const std::string& field, int top)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::SignSpec spec;
    spec.signer = {.cert = fx::issueEndEntity(icp.intermediate, commonName,
                                              {fx::icpPersonal("01021980", "12345678901")})};
    spec.chain = {icp.intermediate, icp.root};
    spec.subFilter = pdfx::SubFilter::CadesDetached;
    spec.field = field;
    spec.rect = {360, top, 560, top + 50};
    return spec;
}

// The authorities' lists in the document, so nothing is asked of the network.
pdfx::Pdf withLists(const pdfx::Pdf& file)
{
    const fx::Hierarchy& icp = fx::icpBrasilHierarchy();
    pdfx::DssSpec dss;
    dss.crls = {fx::crlDer(fx::makeCrl({.issuer = &icp.intermediate}).get()),
                fx::crlDer(fx::makeCrl({.issuer = &icp.root}).get())};
    return pdfx::addDss(file, dss);
}

void save(QWidget& window, const QString& path)
{
    window.repaint();
    QCoreApplication::processEvents();
    if (window.grab().save(path))
        std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    selavia::desktop::installTranslations(application);
    selavia::desktop::useIconThemeFallbacks();
    if (argc != 2) {
        std::fprintf(stderr, "uso: selavia-screenshots PASTA\n");
        return 64;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    QTemporaryDir work;
    qputenv("TEMP", work.path().toLocal8Bit());
    UnattendedDesktop desktop;
    sig::TrustStore store = sig::TrustStore::empty();
    store.addTrusted(QByteArray::fromStdString(fx::icpBrasilHierarchy().root.der()));

    auto show = [&](const fx::Bytes& message, const QString& fileName) {
        const QString path = QDir(work.path()).filePath(fileName);
        fx::writeFile(path.toStdString(), message);
        auto window = std::make_unique<selavia::app::FrmOpen>(desktop, store);
        window->Form_Load(path);
        return window;
    };

    {
        selavia::app::FrmMain welcome(desktop, [](const QString&) {});
        welcome.Form_Load();
        welcome.show();
        save(welcome, out.filePath("0-boas-vindas.png"));
        // A flat button with the keyboard's focus stands out.
        welcome.activateWindow();
        welcome.findChild<QPushButton*>("Command2")->setFocus(Qt::TabFocusReason);
        save(welcome, out.filePath("0-boas-vindas-foco.png"));
    }

    const fx::MessageSpec good = document("contrato.pdf", true);
    const fx::Bytes goodMessage = fx::makeSignedMessage(good);
    {
        auto window = show(goodMessage, "contrato.slv");
        save(*window, out.filePath("1-mostrado-aba0.png"));
        window->findChild<QTabWidget*>("Tabs")->setCurrentIndex(1);
        save(*window, out.filePath("2-mostrado-aba1.png"));
        window->findChild<QTabWidget*>("Tabs")->setCurrentIndex(2);
        save(*window, out.filePath("3-mostrado-aba2-arvore.png"));
    }
    {
        auto window = show(fx::makeSignedMessage(document("")), "sem-nome.slv");
        save(*window, out.filePath("4-sem-extensao.png"));
        window->findChild<QLineEdit*>("Text15")->setText(" Contrato.PDF ");
        window->findChild<QPushButton*>("Command1")->click();
        save(*window, out.filePath("5-extensao-informada.png"));
    }
    const std::vector<std::pair<fx::Bytes, QString>> failures = {
        {fx::tamperContent(goodMessage, good.content), "6-erro-1717.png"},
        {"nao e uma assinatura", "7-erro-0212.png"},
        {fx::tamperSignature(goodMessage), "8-erro-1718.png"},
    };
    for (const auto& [message, name] : failures) {
        auto window = show(message, "falha.slv");
        save(*window, out.filePath(name));
    }
    {
        // A name typed in the open dialog that names no file.
        auto window = std::make_unique<selavia::app::FrmOpen>(desktop, store);
        window->Form_Load(QDir(work.path()).filePath("Meus Documentos/contrato-digitado.slv"));
        save(*window, out.filePath("7-erro-0212-arquivo-nao-encontrado.png"));
    }
    {
        // A detached signature beside its document: the original's tab
        // tells the document's own file.
        fx::MessageSpec detached = document("");
        detached.detached = true;
        fx::writeFile(QDir(work.path()).filePath("contrato.pdf").toStdString(), detached.content);
        auto window = show(fx::makeSignedMessage(detached), "contrato.pdf.p7s");
        window->findChild<QTabWidget*>("Tabs")->setCurrentIndex(1);
        save(*window, out.filePath("2-destacada-aba1.png"));
    }
    {
        // Signed PDFs: two signers, then the same with a page added after
        // both; the first signer's node selected, its version offered.
        const pdfx::Pdf once =
            pdfx::sign(pdfx::makeDocument({.pages = 1}),
                       pdfSignature("MARIA DA SILVA:12345678901", "Assinatura1", 60));
        const pdfx::Pdf twice = withLists(
            pdfx::sign(once, pdfSignature("JOAO DE SOUZA:98765432100", "Assinatura2", 120)));
        const std::pair<pdfx::Pdf, QString> scenes[] = {
            {twice, "12-pdf-dois-signatarios.png"},
            {pdfx::addPage(twice), "13-pdf-pagina-nova.png"},
        };
        for (const auto& [file, name] : scenes) {
            auto window = show(file.bytes, QStringLiteral("contrato-assinado.pdf"));
            window->findChild<QTabWidget*>("Tabs")->setCurrentIndex(2);
            auto* tree = window->findChild<QTreeWidget*>("tvSigns");
            tree->expandAll();
            const auto found = tree->findItems(QStringLiteral("MARIA DA SILVA"),
                                               Qt::MatchExactly | Qt::MatchRecursive);
            if (!found.isEmpty())
                tree->setCurrentItem(found.first());
            save(*window, out.filePath(name));
        }
        // The signed file itself in the preview.
        auto window = show(twice.bytes, QStringLiteral("contrato-assinado.pdf"));
        window->resize(640, 640);
        window->findChild<QTabWidget*>("Tabs")->setCurrentIndex(3);
        save(*window, out.filePath(QStringLiteral("17-visualizacao-pdf-assinado.png")));
    }
    {
        // The preview tab: a PDF with its pages, a picture, and a type it
        // cannot show.
        QImage picture(900, 500, QImage::Format_RGB32);
        picture.fill(QColor(0xf4, 0xf1, 0xe8));
        {
            QPainter painter(&picture);
            painter.fillRect(60, 60, 780, 80, QColor(0x1f, 0x4e, 0x79));
            painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 28));
            painter.drawText(QRect(60, 180, 780, 260), Qt::AlignCenter,
                             QStringLiteral("Planta do imóvel"));
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        const std::pair<fx::Bytes, QString> scenes[] = {
            {pdfx::makeDocument({.pages = 2, .image = true}).bytes, "contrato.pdf"},
            {png.toStdString(), "planta.png"},
            {"PK\x03\x04 planilha", "planilha.xlsx"},
        };
        int number = 14;
        for (const auto& [content, name] : scenes) {
            fx::MessageSpec spec = document(name.toStdString());
            spec.content = content;
            auto window = show(fx::makeSignedMessage(spec), "contrato.slv");
            window->resize(640, 640);
            window->findChild<QTabWidget*>("Tabs")->setCurrentIndex(3);
            save(*window, out.filePath(QStringLiteral("%1-visualizacao-%2.png")
                                           .arg(number++)
                                           .arg(QFileInfo(name).suffix())));
        }
    }
    {
        // Qt's own save dialog, in the user's language, for a name without
        // an extension.
        // an extension, over the folder of the documents above, its sizes
        // in the window's units.
        QFileDialog dialog;
        selavia::desktop::prepareFileDialog(
            dialog,
            {QStringLiteral("Abrir Arquivo Assinado SLV ..."), QStringLiteral("contrato"),
             selavia::desktop::fileDialogFilter(QStringLiteral("Todos os arquivos"), "contrato"),
             work.path()},
            true);
        dialog.setViewMode(QFileDialog::Detail);
        dialog.show();
        // The folder is listed by a thread of the file system model.
        QDeadlineTimer listed(2000);
        while (!listed.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        save(dialog, out.filePath("9-dialogo-salvar.png"));
    }
    {
        // An expired signer: the path marks it.
        const std::time_t now = std::time(nullptr);
        fx::MessageSpec expired = document("contrato.pdf");
        expired.signers[0].cert = fx::issueEndEntity(
            fx::icpBrasilHierarchy().intermediate, "MARIA DA SILVA:12345678901",
            {fx::icpPersonal("01021980", "12345678901")}, now - 60 * 86400, now - 86400);
        const QByteArray message = QByteArray::fromStdString(fx::makeSignedMessage(expired));
        const selavia::verify::ValidationResult result =
            selavia::verify::Verification(selavia::verify::LoadOptions(store))
                .readBytes(QStringLiteral("vencido.slv"), message)
                .run();
        std::optional<selavia::desktop::CertificateView> view;
        for (const selavia::verify::TreeNode& node : result.tree) {
            if (node.signer == 1 && node.chainPosition == 1)
                view = selavia::app::certificateViewOf(node, result);
        }
        // With what a signature says of its signer, on the screen it was
        // placed on: it fits the screen, scrolling inside where it must.
        const QString stamped = selavia::fileinfo::ZonedDateText(
            QDateTime::fromSecsSinceEpoch(now - 30 * 86400, Qt::UTC));
        const selavia::desktop::SignerDetails signer{
            QStringLiteral("Carimbo do Tempo (ACT): %1 - ACT de Teste").arg(stamped),
            QStringLiteral("Válido na data do carimbo do tempo (%1)").arg(stamped),
            QStringLiteral("Política de assinatura: AD-RB v2.3 (2.16.76.1.7.1.1.2.3) - conforme"),
            {QStringLiteral("Contra-assinatura: TABELIAO, %1 - válida").arg(stamped)},
            {}};
        selavia::desktop::CertificateDialog dialog(
            view.value_or(selavia::desktop::CertificateView{}), signer);
        dialog.show();
        save(dialog, out.filePath("10-certificado-vencido-geral.png"));
        QCoreApplication::processEvents();
        if (dialog.screen()->grabWindow(0).save(out.filePath("10-certificado-tela.png")))
            std::printf("%s\n", qPrintable(out.filePath("10-certificado-tela.png")));
        dialog.findChild<QTabWidget*>("certificateTabs")->setCurrentIndex(1);
        save(dialog, out.filePath("10-certificado-vencido-detalhes.png"));
        dialog.findChild<QTabWidget*>("certificateTabs")->setCurrentIndex(2);
        save(dialog, out.filePath("10-certificado-vencido-caminho.png"));
    }
    {
        // The verification report of the two-signer document; tools/screenshots/run
        // renders its first page.
        const QString path = QDir(work.path()).filePath("contrato.slv");
        fx::MessageSpec reported = good;
        reported.crls = {fx::makeCrl(fx::icpBrasilHierarchy().intermediate, {}),
                         fx::makeCrl(fx::icpBrasilHierarchy().root, {})};
        fx::writeFile(path.toStdString(), fx::makeSignedMessage(reported));
        selavia::revocation::Settings offline;
        offline.offline = true;
        selavia::verify::LoadOptions options(store, offline);
        options.sumSignedFile = true;
        const QString pdf = out.filePath("11-relatorio.pdf");
        if (!selavia::report::writeReport(
                selavia::verify::Verification(options).readFile(path).run(), pdf,
                selavia::fileinfo::Replace::Entry))
            std::printf("%s\n", qPrintable(pdf));
    }
    return 0;
}
