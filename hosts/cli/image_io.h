// Reading and writing the image files the moxel tool works on, over libvips.
//
// In memory an image is 8-bit sRGB, red, green, blue (and alpha, when asked to keep it) per pixel,
// rows top to bottom without padding: upright by its orientation tag, converted from its colour
// profile (or CMYK) and from its bit depth, and laid over a background where it was transparent.
// That is what the filter reads and writes in place.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>
#include <vips/vips8>

#include "row_gate.h"

// Starts libvips the way the tool uses it: only the loaders on our own list may run (the others
// are blocked as untrusted too), and no operation cache, since nothing is computed twice. Call it
// once before anything else here; later calls do nothing.
void StartImageLibrary();
// Lets the libraries go, at the end of main.
void StopImageLibrary();

enum class ImageFormat { Png, Jpeg, Webp, Tiff, Svg };

// .png, .jpg, .jpeg, .webp, .tif, .tiff and .svg, in any case. Anything else has no format.
std::optional<ImageFormat> FormatFromExtension(const std::filesystem::path& path);
// The same names without the dot, for --format ("jpg" and "jpeg" alike).
std::optional<ImageFormat> FormatFromName(std::string_view name);
// "PNG", "JPEG", ... for messages.
const char* FormatName(ImageFormat format);

// what() is one line: the file it concerns, then the reason ("out.png: No space left on device").
struct ImageError : std::runtime_error {
    using runtime_error::runtime_error;
};

struct Rgb {
    std::uint8_t red = 255, green = 255, blue = 255;
};

using Pixels = std::unique_ptr<std::uint8_t, void (*)(void*)>;

struct Image {
    int width = 0;
    int height = 0;
    int bands = 3;                    // 3, or 4 with the input's alpha kept
    Pixels pixels{nullptr, nullptr};  // width * height * bands bytes, as libvips allocated them
    // The file's EXIF and XMP, made true of the output (see metadata.h), as fields of a 1 x 1
    // image; and its IPTC records.
    vips::VImage metadata;
    std::string iptc;
    double xres = 1, yres = 1;  // pixels per millimetre, as the file said
    // One line each, naming the file: what was read differently from how it was stored.
    std::vector<std::string> warnings;

    std::size_t size() const { return static_cast<std::size_t>(width) * height * bands; }
};

struct LoadOptions {
    std::uint64_t maxPixels = 500'000'000;  // refused from the header, before any pixel is read
    Rgb background;                         // what transparent parts are laid over
    bool keepAlpha = false;                 // keep transparency as a fourth band instead
};

// Reads an image file, or standard input for "-". The bytes decide the format; only PNG, JPEG,
// WebP, TIFF, GIF and HEIF/AVIF are read, and of several frames or pages only the first.
// Anything else is refused from its first bytes, so no endless or huge input is read whole.
Image LoadImage(const std::filesystem::path& path, const LoadOptions& options);
// The same from bytes in memory; `name` stands for the file in messages.
Image LoadImageFromMemory(const void* data, std::size_t size, const std::string& name,
                          const LoadOptions& options);

// The picture as a data: URI for an SVG document's <image>: JPEG at `quality`, in base64.
std::string PictureDataUri(const Image& image, int quality);

struct SaveOptions {
    ImageFormat format = ImageFormat::Png;
    int quality = 90;      // JPEG and WebP, 1..100
    bool strip = false;    // leave out the EXIF, XMP and IPTC blocks
    unsigned threads = 0;  // deflating a PNG; 0: as many as there are cores
    // Rows still being drawn as the encode starts: it takes each row once the gate lets it.
    const RowGate* gate = nullptr;
};

// Where an output goes, by what the name is:
// - standard output for "-", and anything that is not a regular file (a terminal, a device, a
//   FIFO, a socket, /dev/stdout, /proc/self/fd/N, a pipe from the shell's >(...)) is written
//   straight through;
// - a regular file, or a new name, is written under a short temporary name in its directory and
//   renamed over the target only once complete and synced, keeping the target's permissions: the
//   target is either untouched or the whole new image. A symbolic link is followed and its
//   target replaced so, the link kept. A file the user may not write is refused, as cp does.
// A directory is refused. All of it is settled at construction, before any work, and a binary
// image meant for a terminal is refused unless `toTerminal`. The temporary file is removed if
// the image is never written, and by the interrupt handlers (interrupts.h) if the tool is
// stopped meanwhile.
class OutputFile {
public:
    OutputFile(const std::filesystem::path& path, bool toTerminal);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Encodes the image and puts it in place. At most once, this or WriteBytes.
    void Write(const Image& image, const SaveOptions& options);
    // Puts bytes already encoded (an SVG document) in place.
    void WriteBytes(std::string_view bytes);

private:
    class Temporary;
    void Finish();

    std::string name_;  // for messages
    int fd_ = -1;       // where the bytes go
    bool ownsFd_ = false;
    std::unique_ptr<Temporary> temporary_;
};
