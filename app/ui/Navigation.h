#pragma once

#include "AppModel.h"

namespace veyra::ui {

// Opens the sign-in sheet in a mode, with no message left from an earlier try. Every entry
// that offers to register or sign in (account bar, landing page, menu-bar menu) goes here.
void openAuthentication(AppModel &model, AuthenticationMode mode);

} // namespace veyra::ui
