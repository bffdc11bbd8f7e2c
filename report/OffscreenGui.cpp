#include "report/OffscreenGui.h"

#include <QGuiApplication>
#include <cstdio>

namespace selavia::report {
namespace {

// The application keeps references to these for its whole life.
int argumentCount = 3;
char programName[] = "selavia-verify";
char platformOption[] = "-platform";
char platformName[] = "offscreen";
char* arguments[] = {programName, platformOption, platformName, nullptr};

// A program without windows has no use for the toolkit's notes (a missing
// runtime folder, say) on its error output; failures still show.
void onlyFailures(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

OffscreenGui::OffscreenGui()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    qInstallMessageHandler(onlyFailures);
    application_ = std::make_unique<QGuiApplication>(argumentCount, arguments);
}

OffscreenGui::~OffscreenGui() = default;

} // namespace selavia::report
