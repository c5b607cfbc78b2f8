#pragma once

#include "NetworkState.h"

#include <ostream>
#include <string>
#include <vector>

// Runs one invocation (arguments without the program name) against the state, writing the
// macOS-shaped output. Returns the exit status.
int runVerb(NetworkState &state, const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err);
