#pragma once

// Moving a top-level window with the pointer. Where a program may place its own window (X11,
// the offscreen platform) the program moves it itself, step by step. On Wayland only the
// compositor places windows: a press hands the move over to it (an interactive move that follows
// the pointer until the button is released), and the program's own steps do nothing.
// UI thread only.

#include <functional>

class QWidget;

namespace windowmove {

// Whether the compositor, not the program, moves windows on this window system (Wayland).
bool compositorMoves();

// Asks the compositor to move `window`'s top-level window with the pointer, from the press that
// is being handled now. Returns false when there is no such window or the compositor refused
// (no pointer press it knows of); nothing moves then.
bool startSystemMove(QWidget* window);

// Replaces the compositor while set (tests record the request and answer it); compositorMoves()
// is true meanwhile. Pass an empty function to use the window system again.
using SystemMover = std::function<bool(QWidget* window)>;
void setSystemMover(SystemMover mover);

} // namespace windowmove
