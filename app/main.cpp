#include "app/CertificateDialog.h"
#include "app/FrmOpen.h"

#include <QApplication>

// Opens the document named on the command line ("-o|PATH" or "-o PATH") in
// the document window.
int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    selavia::app::installCertificateDialog();
    const QString line = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
    const QStringList parts = line.split(line.contains(QLatin1Char('|')) ? QLatin1Char('|')
                                                                          : QLatin1Char(' '));
    const QString path = parts.size() > 1 && parts[0] == QLatin1String("-o") ? parts[1] : QString();
    selavia::desktop::QtDesktop desktop;
    selavia::app::FrmOpen window(desktop, selavia::signature::TrustStore::systemDefault());
    window.Form_Load(path);
    // The window may have been closed while it loaded, before any event loop ran.
    return window.ended() ? 0 : application.exec();
}
