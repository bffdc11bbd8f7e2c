#include "report/OffscreenGui.h"

#include <QGuiApplication>

namespace selavia::report {
namespace {

// The application keeps references to these for its whole life.
int argumentCount = 3;
char programName[] = "selavia-verify";
char platformOption[] = "-platform";
char platformName[] = "offscreen";
char* arguments[] = {programName, platformOption, platformName, nullptr};

} // namespace

OffscreenGui::OffscreenGui()
{
    if (QCoreApplication::instance() == nullptr)
        application_ = std::make_unique<QGuiApplication>(argumentCount, arguments);
}

OffscreenGui::~OffscreenGui() = default;

} // namespace selavia::report
