#pragma once

// Small pieces every window builds its controls with.

#include <QLatin1String>

class QFrame;

namespace selavia::desktop {

// `widget` under its designer name, which tests find it by.
template <typename T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A sunken horizontal line between groups of rows.
QFrame* etchedLine();

} // namespace selavia::desktop
