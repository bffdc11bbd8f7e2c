#pragma once

// The program's pictures, drawn as SVG and compiled into the program. Every
// window takes its images from here, so each picture has a single source.
// Everything here draws pixmaps and therefore needs a QGuiApplication.

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace selavia::resources {

// The keys of the tree's image list, in its order: the four certificate
// classes (ICP-Brasil valid, ICP-Brasil invalid, unknown valid, unknown
// invalid) first, then the node images.
const QStringList& treeImageKeys();

// The tree image for `key`, 16×16 and sharp at higher pixel ratios; a null
// QIcon for a key that is not in treeImageKeys().
QIcon treeImage(const QString& key);

enum class Picture { Error, Tick, Exclamation, Alert, AppIcon };

// `which` drawn at `size`×`size` logical pixels for the application's device
// pixel ratio; null for a size below 1.
QPixmap picture(Picture which, int size = 32);

// The program's icon, for windows and the desktop.
QIcon appIcon();

} // namespace selavia::resources
