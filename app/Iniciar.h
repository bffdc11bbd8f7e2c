#pragma once

// Start-up: which window the user sees first.

#include "platform/desktop/Desktop.h"

#include <QStringList>

namespace selavia::app {

// The windows start-up can show; the program's own or a test's.
class StartupWindows {
public:
    virtual ~StartupWindows() = default;
    virtual void showMainWindow() = 0;
    // Shows the document window, which loads `documentPath` as it loads.
    virtual void showDocumentWindow(const QString& documentPath) = 0;
};

enum class StartOutcome { MainWindow, DocumentWindow, Ended };

// `Main`: reads the command line and shows the first window. The
// previous-instance test comes before, in the program's entry.
StartOutcome Main(const QStringList& arguments, desktop::Desktop& desktop, StartupWindows& windows);

} // namespace selavia::app
