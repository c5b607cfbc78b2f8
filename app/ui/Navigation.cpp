#include "Navigation.h"

#include <QClipboard>
#include <QGuiApplication>

namespace veyra::ui {

void openAuthentication(AppModel &model, AuthenticationMode mode)
{
    model.setAuthenticationMode(mode);
    model.setAuthenticationErrorMessage(std::nullopt);
    model.setShowAuthentication(true);
}

void toggleConnection(AppModel &model)
{
    if (model.isConnected())
        model.disconnect();
    else
        model.connect();
}

void copyTerminalProxyCommand(AppModel &model)
{
    QGuiApplication::clipboard()->setText(model.terminalProxyCommand());
}

} // namespace veyra::ui
