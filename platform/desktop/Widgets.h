#pragma once

// Small pieces every window builds its controls with.

#include <QLatin1String>

class QFrame;
class QLineEdit;
class QScrollArea;
class QWidget;

namespace selavia::desktop {

// `widget` under its designer name, which tests find it by.
template <typename T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A sunken horizontal line between groups of rows.
QFrame* etchedLine();

// A value the user reads, selects and copies but never edits: no frame, no
// Tab stop (a click still gives it the focus for copying), and named for
// screen readers after the label it stands beside.
QLineEdit* valueBox(const char* name, const QString& accessibleName);

// Enter and Return press the focused button of `window`, as they do in
// dialogs: every push button under it, those added later excepted.
void pressButtonsWithEnter(QWidget* window);

// `content` as `window`'s only child, inside a frameless scroll area: on a
// screen smaller than the content, the window scrolls instead of running off.
QScrollArea* scrollInside(QWidget* window, QWidget* content);

// `window` within the available area of its screen, frame included: made
// smaller when it does not fit, and moved inside when it hangs over an edge.
void fitToScreen(QWidget* window);

// `window` centred over `over`, then kept inside `over`'s screen.
void centreOver(QWidget* window, const QWidget* over);

// Top-level windows of the program tell assistive technology that they are
// windows (a bare QWidget reports itself as a filler).
void installWindowAccessibility();

} // namespace selavia::desktop
