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
        // The kinds of signed file the document window reads, in any case.
        static const QStringList kinds = {QStringLiteral("slv"), QStringLiteral("p7s"),
                                          QStringLiteral("p7m"), QStringLiteral("pdf")};
        if (kinds.contains(extension.toLower())) {
            windows.showDocumentWindow(documentPath);
            return StartOutcome::DocumentWindow;
        }
        desktop.message(nullptr, desktop::MessageIcon::Critical,
                        QStringLiteral("Selavia Reader - Erro"),
                        QStringLiteral("Este Arquivo não possui a extensão SLV, P7S, P7M ou PDF."));
        desktop.endProgram();
        return StartOutcome::Ended;
    }
    windows.showMainWindow();
    return StartOutcome::MainWindow;
}

} // namespace selavia::app
