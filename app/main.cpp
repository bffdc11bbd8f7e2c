#include "app/CertificateDialog.h"
#include "app/FrmMain.h"
#include "app/FrmOpen.h"
#include "app/Iniciar.h"
#include "platform/desktop/SingleInstance.h"

#include <QApplication>
#include <QPointer>

namespace {

using namespace selavia;

// The program's windows: the welcome window until a document is chosen,
// then the document window until the program ends.
class ProgramWindows : public app::StartupWindows {
public:
    ProgramWindows(desktop::Desktop& desktop, signature::TrustStore trustStore)
        : desktop_(desktop), trustStore_(std::move(trustStore))
    {
    }

    void showMainWindow() override
    {
        main_ =
            new app::FrmMain(desktop_, [this](const QString& path) { showDocumentWindow(path); });
        main_->setAttribute(Qt::WA_DeleteOnClose);
        main_->Form_Load();
        main_->show();
        QCoreApplication::processEvents();
    }

    void showDocumentWindow(const QString& documentPath) override
    {
        document_ = std::make_unique<app::FrmOpen>(desktop_, trustStore_);
        document_->Form_Load(documentPath);
        document_->repaint();
    }

    // The document window ended the program before any event loop ran.
    bool ended() const { return document_ && document_->ended(); }

private:
    desktop::Desktop& desktop_;
    signature::TrustStore trustStore_;
    QPointer<app::FrmMain> main_;
    std::unique_ptr<app::FrmOpen> document_;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Windows end the program themselves, as their close handlers say.
    QApplication::setQuitOnLastWindowClosed(false);
    desktop::SingleInstance instance;
    if (!instance.acquire())
        return 0;
    app::installCertificateDialog();
    desktop::QtDesktop desktop;
    ProgramWindows windows(desktop, signature::TrustStore::systemDefault());
    const app::StartOutcome outcome =
        app::Main(QCoreApplication::arguments().mid(1), desktop, windows);
    if (outcome == app::StartOutcome::Ended || windows.ended())
        return 0;
    return application.exec();
}
