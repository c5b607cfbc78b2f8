#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// One message per direction per connection: a 4-byte big-endian payload length, then the
// payload (JSON bytes).
namespace veyra::ipc::Framing {

inline constexpr std::size_t headerBytes = 4;

// Largest payload a reader accepts. Requests are capped at this size by both sides, and
// replies are far smaller, so one limit serves both directions.
inline constexpr std::size_t maximumPayloadBytes = 131'072;

std::string encodeHeader(std::uint32_t length);
std::uint32_t decodeHeader(const unsigned char *bytes);

// Header plus payload. Throws std::length_error for payloads over 4 GiB, which the 32-bit
// length cannot express.
std::string frame(std::string_view payload);

// Collects one frame from bytes arriving in arbitrary pieces. Oversized is reported as soon
// as the header is in, so the body of a too-large message is never buffered.
class FrameReader {
public:
    enum class Status { needMore, complete, oversized };

    explicit FrameReader(std::size_t maximumPayload = maximumPayloadBytes);

    Status feed(std::string_view bytes);
    Status status() const { return m_status; }
    // Bytes still wanted: the rest of the header, or of the payload.
    std::size_t wanted() const;
    const std::string &payload() const { return m_payload; }
    std::uint32_t declaredLength() const { return m_length; }

private:
    std::size_t m_maximum;
    std::string m_header;
    std::string m_payload;
    std::uint32_t m_length = 0;
    Status m_status = Status::needMore;
};

} // namespace veyra::ipc::Framing
