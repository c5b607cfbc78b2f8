#include "FuzzModels.h"

#include "veyra/ipc/Framing.h"

using veyra::ipc::Framing::FrameReader;
using Status = FrameReader::Status;

// Input: one byte choosing the reader's maximum (high bit set: the protocol's own, else the
// low seven bits, so refusals are reachable with short inputs), one byte seeding how the
// stream is cut into pieces, then the stream.
VEYRA_FUZZ_TARGET(ipc_framing)
{
    if (input.size() < 2)
        return;
    const unsigned char limitByte = static_cast<unsigned char>(input[0]);
    const std::size_t maximum = (limitByte & 0x80) ? veyra::ipc::Framing::maximumPayloadBytes : (limitByte & 0x7f);
    std::uint32_t cut = static_cast<unsigned char>(input[1]) * 2'654'435'761u + 1;
    const std::string_view stream = input.substr(2);

    FrameReader reader(maximum);
    std::size_t fed = 0;
    do {
        cut = cut * 1'103'515'245u + 12'345u;
        // Pieces of 0 to 8 bytes, now and then a large one, as recv() hands them over.
        const std::size_t piece
            = std::min<std::size_t>((cut >> 28) == 0 ? 4'096 : (cut >> 16) % 9, stream.size() - fed);
        const Status returned = reader.feed(stream.substr(fed, piece));
        fed += piece;
        // The framing rules over everything received so far: four bytes of big-endian length,
        // then that many payload bytes; a length above the maximum is refused as soon as the
        // header is in, and bytes after a complete frame are never looked at.
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < std::min<std::size_t>(fed, 4); ++i)
            length = length * 256 + static_cast<unsigned char>(stream[i]);
        const Status status = fed < 4 ? Status::needMore
            : length > maximum        ? Status::oversized
            : fed - 4 >= length       ? Status::complete
                                      : Status::needMore;
        const std::size_t wanted = fed < 4 ? 4 - fed : status == Status::needMore ? 4 + length - fed : 0;
        FUZZ_EXPECT(returned == reader.status() && reader.status() == status && reader.wanted() == wanted
                && (status != Status::complete || reader.payload() == stream.substr(4, length)),
            "status " + std::to_string(int(returned)) + ", " + std::to_string(reader.wanted()) + " wanted after "
                + std::to_string(fed) + " bytes");
    } while (fed < stream.size());

    // Whatever the stream was, its payload part framed again reads back unchanged.
    const std::string_view payload = stream.substr(std::min<std::size_t>(stream.size(), 4));
    const std::string framed = veyra::ipc::Framing::frame(payload);
    FrameReader again(payload.size());
    FUZZ_EXPECT(framed.size() == payload.size() + 4 && framed.compare(4, std::string::npos, payload) == 0
            && again.feed(framed) == Status::complete && again.payload() == payload
            && again.declaredLength() == payload.size(),
        "a framed payload did not read back");
}
