#include "platform/desktop/Widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDialog>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace selavia::desktop {

QFrame* etchedLine()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLineEdit* valueBox(const char* name, const QString& accessibleName)
{
    auto* box = named(new QLineEdit, name);
    box->setReadOnly(true);
    box->setFrame(false);
    box->setStyleSheet(QStringLiteral("background: transparent;"));
    box->setFocusPolicy(Qt::ClickFocus);
    box->setAccessibleName(accessibleName);
    return box;
}

void pressButtonsWithEnter(QWidget* window)
{
    // Outside a dialog a push button answers Enter only when it is told to.
    for (QPushButton* button : window->findChildren<QPushButton*>())
        button->setAutoDefault(true);
}

QScrollArea* scrollInside(QWidget* window, QWidget* content)
{
    auto* area = new QScrollArea;
    area->setObjectName(QStringLiteral("scrollArea"));
    area->setFrameShape(QFrame::NoFrame);
    // A frame to move through, not a stop of its own: Tab goes to what it holds.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    area->setWidget(content);
    // The window's own background shows through, as before it scrolled.
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return area;
}

namespace {

QRect availableFor(const QWidget* window)
{
    const QScreen* screen = window->screen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

// Keeps a frame of `frameSize` inside `area`, moving it no more than needed.
QPoint insideArea(QPoint topLeft, QSize frameSize, const QRect& area)
{
    topLeft.setX(
        std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - frameSize.width())));
    topLeft.setY(
        std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - frameSize.height())));
    return topLeft;
}

} // namespace

void fitToScreen(QWidget* window)
{
    const QRect area = availableFor(window);
    if (area.isEmpty())
        return;
    // The frame's size is known once the window manager has decorated the
    // window; before that, only the client area counts.
    const QSize frame = window->frameGeometry().size() - window->size();
    const QSize room = area.size() - frame.expandedTo(QSize(0, 0));
    const QSize fitted = window->size().boundedTo(room);
    if (fitted != window->size())
        window->resize(fitted);
    const QSize outer = fitted + frame.expandedTo(QSize(0, 0));
    const QPoint topLeft = insideArea(window->frameGeometry().topLeft(), outer, area);
    if (topLeft != window->frameGeometry().topLeft())
        window->move(topLeft);
}

void centreOver(QWidget* window, const QWidget* over)
{
    QRect frame = window->frameGeometry();
    frame.moveCenter(over->frameGeometry().center());
    const QRect area = availableFor(over);
    window->move(area.isEmpty() ? frame.topLeft()
                                : insideArea(frame.topLeft(), frame.size(), area));
}

namespace {

// Our windows are QWidgets named by their class; Qt's dialogs, menus and
// tool tips already tell their role.
QAccessibleInterface* windowInterface(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr || !widget->isWindow() || qobject_cast<QDialog*>(widget) != nullptr ||
        !className.startsWith(QLatin1String("selavia::")))
        return nullptr;
    if (widget->metaObject()->className() != className)
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

void installWindowAccessibility()
{
    QAccessible::installFactory(windowInterface);
}

} // namespace selavia::desktop
