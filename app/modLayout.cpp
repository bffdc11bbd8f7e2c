#include "app/modLayout.h"

#include <QWidget>

namespace selavia::app {

void SetWindowTopMost(QWidget* window, int onTop)
{
    if (window == nullptr)
        return;
    // Changing a widget's window flags recreates its native window, hidden
    // and possibly elsewhere: put back what the user saw.
    const bool wasVisible = window->isVisible();
    const QRect geometry = window->geometry();
    const bool moved = window->testAttribute(Qt::WA_Moved);
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop == kTrue);
    window->setGeometry(geometry);
    window->setAttribute(Qt::WA_Moved, moved);
    if (wasVisible)
        window->show();
}

} // namespace selavia::app
