#include "Navigation.h"

namespace veyra::ui {

void openAuthentication(AppModel &model, AuthenticationMode mode)
{
    model.setAuthenticationMode(mode);
    model.setAuthenticationErrorMessage(std::nullopt);
    model.setShowAuthentication(true);
}

} // namespace veyra::ui
