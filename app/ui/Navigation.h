#pragma once

#include "AppModel.h"

namespace veyra::ui {

// Opens the sign-in sheet in a mode, with no message left from an earlier try. Every entry
// that offers to register or sign in (account bar, landing page, account page, menu-bar menu)
// goes here.
void openAuthentication(AppModel &model, AuthenticationMode mode);

// The one-click connection command (dashboard button, window menu, menu-bar menu): disconnects
// when connected, else connects. The operation runs on by itself.
void toggleConnection(AppModel &model);

// Puts the terminal proxy command for the current mixed port on the clipboard (dashboard and
// menu-bar menu).
void copyTerminalProxyCommand(AppModel &model);

} // namespace veyra::ui
