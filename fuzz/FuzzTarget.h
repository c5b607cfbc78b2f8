#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

// Every fuzz target is one function taking the input bytes. The ordinary build registers each
// under the name of its folders in corpus/ and regressions/, and fuzz_replay feeds it those
// inputs; a clang build with VEYRA_LIBFUZZER_ENTRY makes it the entry point of fuzz_<name>,
// where a finding escapes, ends the process with its text and is recorded as a crash.
namespace veyra::fuzz {

// The code under test disagreed with its model or broke one of its own promises.
struct Finding : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Target = void (*)(std::string_view input);

inline std::map<std::string, Target> &targets()
{
    static std::map<std::string, Target> all;
    return all;
}

// Printable form of bytes for finding texts: printable ASCII as is, the rest as \xNN.
inline std::string printable(std::string_view bytes)
{
    std::string text = "\"";
    for (unsigned char c : bytes) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7f && c != '"' && c != '\\' ? "%c" : "\\x%02x", c);
        text += escaped;
    }
    return text + "\"";
}

} // namespace veyra::fuzz

#define FUZZ_EXPECT(condition, detail)                                                                                 \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            throw ::veyra::fuzz::Finding(                                                                              \
                std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #condition ": " + (detail));               \
    } while (false)

#ifdef VEYRA_LIBFUZZER_ENTRY
#define VEYRA_FUZZ_HOOK(name)                                                                                          \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)                                  \
    {                                                                                                                  \
        fuzz_##name(std::string_view(reinterpret_cast<const char *>(data), size));                                     \
        return 0;                                                                                                      \
    }
#else
#define VEYRA_FUZZ_HOOK(name)                                                                                          \
    [[maybe_unused]] static const bool registered_##name = ::veyra::fuzz::targets().emplace(#name, &fuzz_##name).second;
#endif
#define VEYRA_FUZZ_TARGET(name)                                                                                        \
    static void fuzz_##name(std::string_view input);                                                                   \
    VEYRA_FUZZ_HOOK(name)                                                                                              \
    static void fuzz_##name(std::string_view input)
