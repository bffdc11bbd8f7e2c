#pragma once

class QWidget;

namespace selavia::app {

// The Boolean true of the window layer: all bits set.
inline constexpr int kTrue = -1;

// Puts `window` into the always-on-top band when `onTop` is exactly kTrue,
// and takes it out for any other value, without moving, resizing, showing
// or hiding it.
void SetWindowTopMost(QWidget* window, int onTop);

} // namespace selavia::app
