// The moxel tool's image loading on arbitrary bytes, through the same path a file or a pipe
// takes: the first bytes held against the formats' signatures, the loader chosen from the bytes
// and checked against the tool's list, the size checked from the header, then the decode, depth
// and colour conversion, orientation, flattening and the metadata carried. LoadImageFromMemory
// must either give a well-formed image within the pixel limit or refuse the bytes with an
// ImageError; anything else (a crash, another exception, a sanitizer report) is a finding.
#include "fuzz_support.h"
#include "image_io.h"

namespace {

// Large enough for every seed, small enough that a header claiming a big picture is refused
// rather than decoded for seconds.
constexpr std::uint64_t kMaxPixels = 512 * 512;

// The formats whose loaders are on the list, by their first bytes. Anything else must be refused
// before a loader runs, whatever libvips could make of it.
bool LooksAllowed(const std::uint8_t* data, std::size_t size) {
    auto starts = [&](std::string_view magic, std::size_t at = 0) {
        return size >= at + magic.size() &&
               std::string_view(reinterpret_cast<const char*>(data) + at, magic.size()) == magic;
    };
    return starts("\x89PNG") || starts("\xFF\xD8\xFF") || starts("GIF8") || starts("II*") ||
           starts("MM\0*") || starts("II+") || starts("MM\0+") ||
           (starts("RIFF") && starts("WEBP", 8)) || starts("ftyp", 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const Image image = LoadImageFromMemory(data, size, "fuzz input",
                                                {.maxPixels = kMaxPixels, .background = {}});
        FUZZ_CHECK(image.width > 0 && image.height > 0);
        FUZZ_CHECK(static_cast<std::uint64_t>(image.width) * image.height <= kMaxPixels);
        FUZZ_CHECK(image.pixels != nullptr);
        FUZZ_CHECK(LooksAllowed(data, size));
    } catch (const ImageError&) {
        // A refusal with a reason is what the tool expects for a bad file.
    }
    return 0;
}
