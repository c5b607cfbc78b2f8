#include "veyra/ipc/Framing.h"

#include "veyra/ipc/ProxyHelperConstants.h"

#include <algorithm>
#include <stdexcept>

namespace veyra::ipc::Framing {

static_assert(maximumPayloadBytes == ProxyHelperConstants::maximumRequestBytes);

std::string encodeHeader(std::uint32_t length)
{
    std::string header(headerBytes, '\0');
    header[0] = static_cast<char>((length >> 24) & 0xFF);
    header[1] = static_cast<char>((length >> 16) & 0xFF);
    header[2] = static_cast<char>((length >> 8) & 0xFF);
    header[3] = static_cast<char>(length & 0xFF);
    return header;
}

std::uint32_t decodeHeader(const unsigned char *bytes)
{
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8)
        | std::uint32_t(bytes[3]);
}

std::string frame(std::string_view payload)
{
    if (payload.size() > 0xFFFF'FFFFu)
        throw std::length_error("message too large for its length prefix");
    std::string bytes = encodeHeader(static_cast<std::uint32_t>(payload.size()));
    bytes.append(payload);
    return bytes;
}

FrameReader::FrameReader(std::size_t maximumPayload)
    : m_maximum(maximumPayload)
{
}

std::size_t FrameReader::wanted() const
{
    if (m_status != Status::needMore)
        return 0;
    if (m_header.size() < headerBytes)
        return headerBytes - m_header.size();
    return m_length - m_payload.size();
}

FrameReader::Status FrameReader::feed(std::string_view bytes)
{
    while (m_status == Status::needMore && !bytes.empty()) {
        if (m_header.size() < headerBytes) {
            std::size_t take = std::min(bytes.size(), headerBytes - m_header.size());
            m_header.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (m_header.size() < headerBytes)
                break;
            m_length = decodeHeader(reinterpret_cast<const unsigned char *>(m_header.data()));
            if (m_length > m_maximum) {
                m_status = Status::oversized;
                break;
            }
            m_payload.reserve(m_length);
        }
        std::size_t take = std::min<std::size_t>(bytes.size(), m_length - m_payload.size());
        m_payload.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (m_payload.size() == m_length)
            m_status = Status::complete;
    }
    // A zero-length frame is complete as soon as its header is.
    if (m_status == Status::needMore && m_header.size() == headerBytes && m_length == 0)
        m_status = Status::complete;
    return m_status;
}

} // namespace veyra::ipc::Framing
