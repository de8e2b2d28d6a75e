#pragma once

// Bringing a minimised top-level window back. On X11 the window asks and the window manager
// maps it again. Wayland's shell can minimise a window but has no request to undo it: there the
// window asks to be activated, which brings it back where the compositor grants activation;
// where the window is not active soon after, it is unmapped and mapped again, which every
// compositor shows. The compositor does not say whether it keeps a window minimised (Qt forgets
// it at the next configure), so the caller knows it. UI thread only.

class QWidget;

namespace windowrestore {

// Restores `window`, which the program minimised; a window that is not, on Wayland, is
// activated (or mapped again where activation is refused).
void restore(QWidget* window);

} // namespace windowrestore
