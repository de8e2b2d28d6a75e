#pragma once

// Colour-key transparency of a window, in the shape of the classic layered-window calls.
//
// Once a window carries the layered bit and a colour key, every pixel that it renders in exactly
// that colour is see-through and lets clicks pass, for the rest of the window's life. The pixels
// that are not the key become the window's mask (QWidget::setMask), computed from the rendered
// pixels when the window is shown, when it changes size (before the next paint) and when
// invalidateLayeredWindow() says its look changed; ordinary repaints do not recompute it.
// Two backends show that mask: on X11 it is the window's shape, which needs no compositor; on
// Wayland, where a shape does not clip what the compositor draws, the window becomes translucent
// (its surface carries alpha, so what the mask leaves unpainted is fully transparent) and the
// mask is its input region. On other window systems the calls fail.
//
// Thread rule: UI thread only. The state lives on the widget and goes away with it.

#include "platform/BasicTypes.h"

#include <QRgb>
#include <QtGlobal>
#include <cstdint>
#include <optional>

class QWidget;

using COLORREF = std::uint32_t; // 0x00BBGGRR

inline constexpr int GWL_EXSTYLE = -20;
inline constexpr LONG WS_EX_LAYERED = 0x00080000;
inline constexpr DWORD LWA_COLORKEY = 0x1;
inline constexpr DWORD LWA_ALPHA = 0x2;

// The window's extended style (only GWL_EXSTYLE is kept; any other index and a null window
// give 0). A window never touched has the style 0.
LONG GetWindowLongA(QWidget* hwnd, int index);

// Replaces the extended style and returns the previous one; 0 for a null window or another
// index (nothing changes then). Clearing WS_EX_LAYERED removes the colour key and the shape.
LONG SetWindowLongA(QWidget* hwnd, int index, LONG newLong);

// Sets the colour key (LWA_COLORKEY, `key` as 0x00BBGGRR) and/or the whole window's opacity
// (LWA_ALPHA, `alpha` 0..255) of a layered window. Returns 0 (FALSE), changing nothing, for a null
// window, a window without WS_EX_LAYERED, or a window system without a backend; nonzero
// otherwise. The shape is computed at once when the window is visible, else when it is shown.
// On Wayland a window already shown is unmapped and mapped again once, to give it alpha.
BOOL SetLayeredWindowAttributes(QWidget* hwnd, COLORREF key, BYTE alpha, DWORD flags);

namespace layered {

// Recomputes the shape of a layered, colour-keyed window after its pixels changed other than by
// a size change (a new skin picture, a panel shown). Coalesced: runs once at the next pass of
// the event loop. No effect on other windows.
void invalidateLayeredWindow(QWidget* hwnd);

// The colour key of a layered, colour-keyed window (as an opaque QRgb), if it has one.
std::optional<QRgb> colourKey(const QWidget* hwnd);

// Whether this window system can show colour-keyed windows (X11, Wayland; the offscreen platform
// keeps the shape as the widget's mask, which is how tests look at it).
bool shapingSupported();

} // namespace layered
