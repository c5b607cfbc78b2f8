#pragma once

#include "AppCollaborators.h"

#include <functional>

namespace veyra::ui {

class VeyraNetworkAssistantApp;

// The whole start of the application, shared by its executable and by programs that run the
// same application under a script: process hardening, the single-instance claim, the data
// folder, the theme, then the model, window and tray. `started` runs once everything is up,
// inside the event loop's first turn. The collaborators are made once the application object
// exists (they find the bundle's resources through it). Answers the process's exit status.
int runApplication(int argc, char *argv[],
    const std::function<AppCollaborators()> &makeCollaborators = AppCollaborators::product,
    const std::function<void(VeyraNetworkAssistantApp &)> &started = {});

// Qt's own texts (a transport failure, a dialog button) in Simplified Chinese, the language
// of the whole interface, whatever the session's locale. False when the system has none.
bool installPlatformTranslations();

} // namespace veyra::ui
