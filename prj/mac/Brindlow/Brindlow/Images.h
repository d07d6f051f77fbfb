// Images of the application bundle: PNG files in Contents/Resources, found by name.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace brindlow::ui {

// The resource called name, or name + ".png", from the bundle's resources folder; a null pixmap
// when there is none. Loaded once per name.
QPixmap imageNamed(const QString& name);

// The same image as an icon (a null icon when there is none).
QIcon iconNamed(const QString& name);

// Forgets the loaded images (after the resources folder changes).
void clearImageCache();

}  // namespace brindlow::ui
