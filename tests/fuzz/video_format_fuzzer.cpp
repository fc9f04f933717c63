// The shared check of proposed output formats on arbitrary format blocks.
// Checked: no read outside the block (AddressSanitizer: the block is its own
// allocation of exactly its length), and what it accepts is one of the
// three sizes in the subtype's format, with a buffer between the picture
// and twice it.

#include <cstdlib>
#include <cstring>
#include <memory>

#include "pin/video_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t flags = data[0];
    const std::size_t bytes = size - 1;
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[bytes ? bytes : 1]);
    std::memcpy(block.get(), data + 1, bytes);
    kv20x::ProposedFormat format;
    format.videoMajorType = (flags & 1) != 0;
    format.knownSubtype = (flags & 2) != 0;
    format.subtype = static_cast<kv20x::PictureFormat>((flags >> 4) % kv20x::kPictureFormatCount);
    format.videoInfoFormat = (flags & 4) != 0;
    format.block = (flags & 8) ? nullptr : block.get();
    // Sometimes a block that claims more than it has: the check must only
    // trust cbFormat, so these inputs keep their real length.
    format.blockBytes = static_cast<std::uint32_t>(bytes);
    const kv20x::FormatCheck check = kv20x::CheckVideoFormat(format);
    if (check.ok()) {
        if (!kv20x::IsValidSizeMode(check.size) || check.format != format.subtype)
            std::abort();
        const std::uint32_t picture = kv20x::SizeModeLayout(check.format, check.size).imageBytes;
        if (check.bufferBytes < picture || check.bufferBytes > 2 * picture || check.frameTime < 0)
            std::abort();
    }
    return 0;
}
