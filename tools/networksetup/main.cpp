// Stand-in for macOS networksetup: the verbs that read and set the proxy settings of
// network services, with the same output shapes, backed by a JSON state file whose
// location comes from VEYRA_NETWORKSETUP_STATE (or a fixed default).
#include "NetworkState.h"
#include "Verbs.h"

#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
    try {
        NetworkState state(NetworkState::pathFromEnvironment());
        return runVerb(state, std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    } catch (const std::exception &error) {
        std::cerr << "networksetup: " << error.what() << "\n";
        return 1;
    }
}
