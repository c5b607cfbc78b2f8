#pragma once

#include "Driver.h"

#include <QMap>

namespace veyra::e2e {

using MakeScenario
    = std::function<std::unique_ptr<Driver>(ui::VeyraNetworkAssistantApp &, MihomoManager &, const DriverOptions &)>;

// The application with a scripted person at the keyboard: the same start-up as the product's
// executable, then one scenario through its window. Its program takes the product's place as the
// main executable of a test copy of the bundle, so the root helper serves it as it would the
// application (scripts/e2e runs it in the simulated world).
//
//   PROGRAM --scenario NAME --network-state FILE|--kioslaverc FILE [--screenshots DIR] [--site URL]
//       [--account NUMBER --password TEXT] [--world REQUESTS,REPLIES] [--action ACTION] [--count N]
//
// Scenarios: tour, faults, crash-trial (--action connect|disconnect|repair), start (after a
// crash; --sign-in signs in first), kernel-kills (--count N), soak (--count minutes), and those
// of `extra`. `atStart` runs once the application object exists, before its window does.
template <typename Scenario> MakeScenario make()
{
    return [](ui::VeyraNetworkAssistantApp &app, MihomoManager &core, const DriverOptions &options) {
        return std::make_unique<Scenario>(app, core, options);
    };
}

int runDriver(
    int argc, char *argv[], const QMap<QString, MakeScenario> &extra = {}, const std::function<void()> &atStart = {});

} // namespace veyra::e2e
