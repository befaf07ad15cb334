// Reading and writing the image files the moxel tool works on.
//
// Everything in memory is 8-bit BGR, rows top to bottom, no row padding: the order a DIB keeps its
// bytes in, so the filter can read rows without converting them again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <vector>

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 3 bytes, B,G,R per pixel
};

enum class ImageFormat { Png, Jpeg };

// .png, .jpg and .jpeg, in any case. Anything else has no format.
std::optional<ImageFormat> FormatFromExtension(const std::filesystem::path& path);

// The message is the reason alone ("not a PNG file"); the caller puts the file name in front.
struct ImageError : std::runtime_error {
    using runtime_error::runtime_error;
};

// Reads a PNG or JPEG file into 8-bit BGR. The content decides the decoder; a .png or .jpg name
// whose content is the other format (or neither) is refused rather than guessed at. Grey and
// palette images become BGR, transparency is composited over white, 16-bit channels are reduced to
// 8 bits. Images with more than maxPixels pixels are refused after reading only their header.
Image LoadImage(const std::filesystem::path& path, std::uint64_t maxPixels);

struct SaveOptions {
    int jpegQuality = 90;    // 1..100
    int pngCompression = 1;  // zlib level 0..9; the PNG encoder says why so low
};

// Writes the image in the given format whatever the file is called. The data goes to a temporary
// file next to the target, which is renamed over it only once it is complete, so the target is
// either untouched or the whole new image; the temporary file is removed on any failure.
void SaveImage(const Image& image, const std::filesystem::path& path, ImageFormat format,
               const SaveOptions& options = {});
