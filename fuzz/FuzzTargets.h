#pragma once

#include <string_view>

// Every fuzz target, by the name of its folders under corpus/ and regressions/ and of its
// libFuzzer executable (fuzz_<name>).
namespace veyra::fuzz {

#define VEYRA_FUZZ_TARGETS(X)                                                                                          \
    X(ipc_framing, ipcFraming)                                                                                         \
    X(ipc_records, ipcRecords)                                                                                         \
    X(ipc_grammar, ipcGrammar)                                                                                         \
    X(helper_request, helperRequest)                                                                                   \
    X(networksetup, networkSetup)                                                                                      \
    X(service_models, serviceModels)                                                                                   \
    X(controller, controller)                                                                                          \
    X(settings, settings)                                                                                              \
    X(standin_config, standinConfig)

#define VEYRA_DECLARE_TARGET(name, function) void function(std::string_view input);
VEYRA_FUZZ_TARGETS(VEYRA_DECLARE_TARGET)

struct Target {
    const char *name;
    void (*run)(std::string_view input);
};

#define VEYRA_LIST_TARGET(name, function) { #name, &function },
inline constexpr Target targets[] = { VEYRA_FUZZ_TARGETS(VEYRA_LIST_TARGET) };

} // namespace veyra::fuzz
