#include "platform/desktop/Widgets.h"

#include <QFrame>

namespace selavia::desktop {

QFrame* etchedLine()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace selavia::desktop
