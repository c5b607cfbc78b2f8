#include "Navigation.h"

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

} // namespace veyra::ui
