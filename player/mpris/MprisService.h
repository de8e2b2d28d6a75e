#pragma once

class frmMain;

// The player on the desktop's session bus as org.mpris.MediaPlayer2.quiva (MPRIS 2), so that
// media keys, panel widgets, playerctl and phone remotes drive it.
namespace mpris {

// Registers the player's media controls for `window` (which then owns them) when a session
// bus exists, once the window has been painted the first time; with none, or when it refuses,
// does nothing, quietly. UI thread, once, after Form_Load. A second running player takes
// org.mpris.MediaPlayer2.quiva.instance<pid>.
void startOnSessionBus(frmMain& window);

} // namespace mpris
