#pragma once

// Rendering a report needs a QGuiApplication; a program without windows
// makes one here, on the offscreen platform, only when it renders, so that
// it runs without a display and its plain work pays nothing for it.

#include <memory>

class QGuiApplication;

namespace selavia::report {

class OffscreenGui {
public:
    // Makes the application unless the process already has one.
    OffscreenGui();
    ~OffscreenGui();
    OffscreenGui(const OffscreenGui&) = delete;
    OffscreenGui& operator=(const OffscreenGui&) = delete;

private:
    std::unique_ptr<QGuiApplication> application_;
};

} // namespace selavia::report
