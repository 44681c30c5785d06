// The desktop's notification area as far as the monitor needs to know it.
#pragma once

namespace platform {

// A StatusNotifier watcher (the D-Bus notification area of KDE Plasma, of GNOME with the
// AppIndicator extension and of most Wayland panels) is on the session bus. Such a panel
// draws the icon's menu itself from the menu the program exports; without one the icon, if
// any, is an XEmbed window that the program clicks on itself. False without a session bus.
bool StatusNotifierHostPresent();

}  // namespace platform
