#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Every fuzz target is one function taking the input bytes. The same function runs under
// libFuzzer (one executable per target, built with clang and the sanitizers) and in the
// ordinary build's replay test, which feeds it the committed seeds and regression inputs.
namespace veyra::fuzz {

// The code under test disagreed with its model or broke one of its own promises.
struct Finding {
    std::string what;
};

[[noreturn]] void fail(const char *file, int line, const std::string &what);

// Runs one target on one input the way libFuzzer wants it: a finding or an exception that
// escaped the target is printed and ends the process, which libFuzzer records as a crash.
int runUnderLibFuzzer(void (*target)(std::string_view), const std::uint8_t *data, std::size_t size);

// Printable form of bytes for finding texts: printable ASCII as is, the rest as \xNN.
std::string printable(std::string_view bytes);

} // namespace veyra::fuzz

#define FUZZ_EXPECT(condition, detail)                                                                                 \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::veyra::fuzz::fail(__FILE__, __LINE__, std::string(#condition) + ": " + (detail));                        \
    } while (false)

// Defines target `name`. Compiled with VEYRA_LIBFUZZER_ENTRY (the libFuzzer executables), it
// also defines the entry point that calls it.
#ifdef VEYRA_LIBFUZZER_ENTRY
#define VEYRA_FUZZ_ENTRY(name)                                                                                         \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)                                  \
    {                                                                                                                  \
        return ::veyra::fuzz::runUnderLibFuzzer(&::veyra::fuzz::name, data, size);                                     \
    }
#else
#define VEYRA_FUZZ_ENTRY(name)
#endif
#define VEYRA_FUZZ_TARGET(name)                                                                                        \
    namespace veyra::fuzz {                                                                                            \
    void name(std::string_view input);                                                                                 \
    }                                                                                                                  \
    VEYRA_FUZZ_ENTRY(name)                                                                                             \
    void veyra::fuzz::name(std::string_view input)
