#pragma once

#include <QtGui/qwindowdefs.h>

namespace perchwell {

// Asks the window manager to show a mapped window on every desktop and to leave it out
// of task bars, pagers and window cycling. Does nothing off X11.
void showOnAllDesktopsOutsideWindowLists(WId window);

} // namespace perchwell
