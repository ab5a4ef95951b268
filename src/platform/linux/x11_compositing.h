#pragma once

namespace perchwell {

// Whether translucent windows are blended with what lies below them. On X11 that needs
// a compositing manager (the owner of _NET_WM_CM_S<screen>); other platforms compose
// always. Needs a Qt GUI application.
bool windowsAreComposited();

} // namespace perchwell
