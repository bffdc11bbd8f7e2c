#include "app/FrmMain.h"
#include "app/FrmOpen.h"
#include "app/Iniciar.h"
#include "fileinfo/PrivateFolder.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/desktop/Widgets.h"

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

    // The session ends without the user: the document window ends the
    // program as its closing would, removing the temporary copy.
    void endSession()
    {
        if (document_)
            document_->endSession();
        desktop_.endProgram();
    }

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
    desktop::installTranslations(application);
    desktop::useIconThemeFallbacks();
    desktop::installWindowAccessibility();
    // Folders of earlier runs that ended before they could remove their copy.
    fileinfo::PrivateFolder::removeStale(qEnvironmentVariable("TEMP"));
    desktop::QtDesktop desktop;
    // The handlers outlive the windows, so a signal while they go does not
    // cut their clean-up short. A signal during the load is read by the
    // load's own event runs.
    ProgramWindows* windowsInUse = nullptr;
    desktop::TerminationSignals terminations([&](int) {
        if (windowsInUse != nullptr)
            windowsInUse->endSession();
    });
    ProgramWindows windows(desktop, signature::TrustStore::systemDefault());
    windowsInUse = &windows;
    const app::StartOutcome outcome =
        app::Main(QCoreApplication::arguments().mid(1), desktop, windows);
    int status = 0;
    if (outcome != app::StartOutcome::Ended && !windows.ended() && terminations.received() == 0)
        status = application.exec();
    windowsInUse = nullptr;
    // Ended by a signal: the shell's convention for the status.
    return terminations.received() != 0 ? 128 + terminations.received() : status;
}
