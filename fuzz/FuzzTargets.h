#pragma once

#include <string_view>

// Every fuzz target, by the name of its folders under corpus/ and regressions/ and of its
// libFuzzer executable (fuzz_<name>).
namespace veyra::fuzz {

void ipcFraming(std::string_view input);
void ipcRecords(std::string_view input);
void ipcGrammar(std::string_view input);
void helperRequest(std::string_view input);
void networkSetup(std::string_view input);
void serviceModels(std::string_view input);
void controller(std::string_view input);
void settings(std::string_view input);
void standinConfig(std::string_view input);

struct Target {
    const char *name;
    void (*run)(std::string_view input);
};

inline constexpr Target targets[] = {
    { "ipc_framing", &ipcFraming },
    { "ipc_records", &ipcRecords },
    { "ipc_grammar", &ipcGrammar },
    { "helper_request", &helperRequest },
    { "networksetup", &networkSetup },
    { "service_models", &serviceModels },
    { "controller", &controller },
    { "settings", &settings },
    { "standin_config", &standinConfig },
};

} // namespace veyra::fuzz
