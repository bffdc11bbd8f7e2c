#include "app/Iniciar.h"

#include "fileinfo/FileHandler.h"
#include "platform/shell/CommandLine.h"

namespace selavia::app {

StartOutcome Main(const QStringList& arguments, desktop::Desktop& desktop, StartupWindows& windows)
{
    shell::CommandLine line = shell::splitCommandLine(shell::commandLineText(arguments));
    if (line.incorrect) {
        desktop.message(nullptr, desktop::MessageIcon::Exclamation,
                        QStringLiteral("Selavia Reader"), QStringLiteral("Parámetros Incorretos."));
    }
    if (line.option == QLatin1String("-o")) {
        const QString documentPath = fileinfo::GetLongPath(line.argument);
        const QString extension = fileinfo::GetFileProperty(
            documentPath, fileinfo::FileProperty::Extension, [&](const fileinfo::FileError& error) {
                desktop.message(nullptr, desktop::MessageIcon::Critical,
                                QStringLiteral("Selavia Reader"), error.text());
            });
        const QString kind = extension.toLower();
        if (kind == QLatin1String("slv") || kind == QLatin1String("pdf")) {
            windows.showDocumentWindow(documentPath);
            return StartOutcome::DocumentWindow;
        }
        desktop.message(nullptr, desktop::MessageIcon::Critical,
                        QStringLiteral("Selavia Reader - Erro"),
                        QStringLiteral("Este Arquivo não possui a extensão SLV ou PDF."));
        desktop.endProgram();
        return StartOutcome::Ended;
    }
    windows.showMainWindow();
    return StartOutcome::MainWindow;
}

} // namespace selavia::app
