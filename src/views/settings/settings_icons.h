#pragma once

#include <QIcon>
#include <QString>

namespace perchwell {

// The icon for one of the settings window's symbol names ("gearshape",
// "checkmark.seal.fill", ...): the desktop icon theme's match when it has one, else a
// small badge drawn here, so the window looks whole on a bare X server too.
QIcon settingsIcon(const QString& symbol);

// The drawn badge alone (what a desktop without an icon theme shows).
QIcon drawnSettingsIcon(const QString& symbol);

} // namespace perchwell
