#pragma once

// The program's pictures, drawn as SVG and compiled into the program. Every
// window takes its images from here, so each picture has a single source.
// Everything here draws pixmaps and therefore needs a QGuiApplication.

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace selavia::resources {

// The tree image for `key` (one of verify/TreeKeys.h's image keys), 16×16
// and sharp at higher pixel ratios; a null QIcon for any other key.
QIcon treeImage(const QString& key);

// Strip is the tall decorative band on the left of the welcome window;
// Bullet and Link are the welcome window's feature and web-link icons.
enum class Picture { Error, Tick, Exclamation, Alert, AppIcon, Strip, Bullet, Link };

// `which` drawn at `size`×`size` logical pixels for the application's device
// pixel ratio, keeping its proportions; null for a size below 1.
QPixmap picture(Picture which, int size = 32);
// `which` drawn into `size` logical pixels, keeping its proportions; null for
// an empty size.
QPixmap picture(Picture which, QSize size);
// The size the picture was drawn for, e.g. 152×401 for the strip.
QSize ownSize(Picture which);

// The program's icon, for windows and the desktop.
QIcon appIcon();

} // namespace selavia::resources
