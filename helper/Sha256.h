#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace veyra::helper {

// SHA-256 for the executable identity check. The helper stays on the standard library, so it
// carries its own small implementation instead of linking a crypto library into a root daemon.
class Sha256 {
public:
    Sha256();
    void update(const void *data, std::size_t length);
    std::array<std::uint8_t, 32> finish();

    static std::string hex(const std::array<std::uint8_t, 32> &digest);

private:
    void block(const std::uint8_t *chunk);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer {};
    std::size_t m_buffered = 0;
    std::uint64_t m_totalBytes = 0;
};

} // namespace veyra::helper
