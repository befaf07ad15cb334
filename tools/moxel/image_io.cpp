#include "image_io.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

namespace fs = std::filesystem;

constexpr int kBytesPerPixel = 3;
constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::array<std::uint8_t, 3> kJpegSignature = {0xff, 0xd8, 0xff};  // SOI, then a marker

[[noreturn]] void ThrowErrno(int error) {
    throw ImageError(std::generic_category().message(error));
}

const char* FormatName(ImageFormat format) { return format == ImageFormat::Png ? "PNG" : "JPEG"; }

// ---------------------------------------------------------------------------------------------
// Sizes

// The one place pixel counts turn into byte counts: every later multiplication of width, height
// and 3 is known to fit in size_t and in the int strides the codecs take.
std::size_t CheckedBufferSize(std::uint64_t width, std::uint64_t height, std::uint64_t maxPixels) {
    const std::uint64_t pixels = width * height;  // both are below 2^32, so this cannot wrap
    if (pixels > maxPixels) {
        throw ImageError("image too large (" + std::to_string(width) + " x " +
                         std::to_string(height) + " pixels; the limit is " +
                         std::to_string(maxPixels) + ")");
    }
    const std::uint64_t stride = width * kBytesPerPixel;
    if (stride > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ||
        pixels > std::numeric_limits<std::size_t>::max() / kBytesPerPixel) {
        throw ImageError("image too large for this computer (" + std::to_string(width) + " x " +
                         std::to_string(height) + " pixels)");
    }
    return static_cast<std::size_t>(pixels) * kBytesPerPixel;
}

// ---------------------------------------------------------------------------------------------
// Reading files

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenForReading(const fs::path& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) ThrowErrno(errno);
    return file;
}

// Reads up to buffer.size() bytes; fewer only at the end of the file.
std::size_t ReadSome(std::FILE* file, std::span<std::uint8_t> buffer) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    if (got < buffer.size() && std::ferror(file)) ThrowErrno(errno);  // e.g. "Is a directory"
    return got;
}

void AppendRest(std::FILE* file, std::vector<std::uint8_t>& bytes) {
    std::array<std::uint8_t, 64 * 1024> chunk;
    while (const std::size_t got = ReadSome(file, chunk)) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
}

// What the first bytes say. A file shorter than a signature but agreeing with all of it that is
// there is a cut-off file of that format, and says so rather than "not a PNG file".
struct Sniffed {
    std::optional<ImageFormat> format;
    bool truncated = false;
};

template <std::size_t N>
bool StartsLike(std::span<const std::uint8_t> head, const std::array<std::uint8_t, N>& signature) {
    const std::size_t n = std::min(head.size(), N);
    return std::equal(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(n),
                      signature.begin());
}

Sniffed SniffFormat(std::span<const std::uint8_t> head) {
    if (StartsLike(head, kPngSignature)) {
        return {ImageFormat::Png, head.size() < kPngSignature.size()};
    }
    if (StartsLike(head, kJpegSignature)) {
        return {ImageFormat::Jpeg, head.size() < kJpegSignature.size()};
    }
    return {};
}

// The content decides the decoder, but a name that promises one format over content of another
// is more likely a mistake (the wrong file, a half-finished download) than something to honour.
ImageFormat CheckContent(const Sniffed& sniffed, std::optional<ImageFormat> named) {
    if (!sniffed.format) {
        throw ImageError(named ? std::string("not a ") + FormatName(*named) + " file"
                               : std::string("not a PNG or JPEG file"));
    }
    if (named && *named != *sniffed.format) {
        throw ImageError(std::string("not a ") + FormatName(*named) + " file (the data is " +
                         FormatName(*sniffed.format) + ")");
    }
    if (sniffed.truncated) {
        throw ImageError(std::string("truncated ") + FormatName(*sniffed.format) + " data");
    }
    return *sniffed.format;
}

// ---------------------------------------------------------------------------------------------
// PNG decoding, through libpng's simplified API: it converts every colour type and bit depth to
// the one layout we want, and reports errors in the struct instead of by longjmp.

class PngReader {
public:
    PngReader() { image_.version = PNG_IMAGE_VERSION; }
    ~PngReader() { png_image_free(&image_); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    png_image& get() { return image_; }

private:
    png_image image_{};
};

[[noreturn]] void ThrowPngError(std::FILE* file, const png_image& image) {
    // libpng calls a short read just "Read Error"; the stream knows better.
    if (std::feof(file)) throw ImageError("truncated PNG data");
    throw ImageError(std::string("corrupt PNG data (") + image.message + ")");
}

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// libpng's simplified reader stops once it has the last row, so a file cut off after its image
// data would load without a word. Walk the remaining chunks to the end marker to be sure the file
// is whole. Chunks in between are skipped unread: nothing after the image data changes a pixel.
void ExpectPngEnd(std::FILE* file) {
    constexpr std::array<std::uint8_t, 4> kEnd = {'I', 'E', 'N', 'D'};
    for (;;) {
        std::array<std::uint8_t, 8> header;  // length, type
        if (ReadSome(file, header) < header.size()) throw ImageError("truncated PNG data");
        const std::uint32_t length = ReadBigEndian32(header.data());
        if (length > 0x7fffffffu) throw ImageError("corrupt PNG data (bad chunk length)");
        if (std::equal(kEnd.begin(), kEnd.end(), header.begin() + 4)) {
            std::array<std::uint8_t, 4> crc;
            if (ReadSome(file, crc) < crc.size()) throw ImageError("truncated PNG data");
            return;
        }
        if (std::fseek(file, static_cast<long>(length) + 4, SEEK_CUR) != 0) ThrowErrno(errno);
    }
}

Image DecodePng(std::FILE* file, std::uint64_t maxPixels) {
    PngReader reader;
    png_image& png = reader.get();
    // Reads only as far as the first image data, so the size is known before any pixel memory.
    if (!png_image_begin_read_from_stdio(&png, file)) ThrowPngError(file, png);

    Image image;
    const std::size_t bytes = CheckedBufferSize(png.width, png.height, maxPixels);
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.pixels.resize(bytes);

    png.format = PNG_FORMAT_BGR;
    // 16-bit files without gamma information are far more often sRGB (saved by editors) than
    // linear; libpng's default of linear would turn their mid-greys into light greys.
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    // Without an alpha channel in the output, libpng composites onto this colour.
    const png_color white = {255, 255, 255};
    const auto stride = static_cast<png_int_32>(image.width * kBytesPerPixel);
    if (!png_image_finish_read(&png, &white, image.pixels.data(), stride, nullptr)) {
        ThrowPngError(file, png);
    }
    ExpectPngEnd(file);
    return image;
}

// ---------------------------------------------------------------------------------------------
// JPEG decoding, through TurboJPEG.

struct TjDestroyer {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDestroyer>;

// TurboJPEG prefixes its own messages with the function name; the user has no use for that.
std::string TjReason(tjhandle handle) {
    std::string_view message = tjGetErrorStr2(handle);
    if (const auto colon = message.find("(): "); colon != std::string_view::npos) {
        message.remove_prefix(colon + 4);
    }
    return std::string(message);
}

[[noreturn]] void ThrowJpegError(tjhandle handle) {
    throw ImageError("truncated or corrupt JPEG data (" + TjReason(handle) + ")");
}

Image DecodeJpeg(std::span<const std::uint8_t> data, std::uint64_t maxPixels) {
    TjHandle handle(tjInitDecompress());
    if (!handle) throw ImageError("cannot start the JPEG decoder (" + TjReason(nullptr) + ")");

    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle.get(), data.data(), data.size(), &width, &height, &subsampling,
                            &colourspace) != 0) {
        ThrowJpegError(handle.get());
    }
    if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) {
        throw ImageError("CMYK JPEG files are not supported");
    }

    Image image;
    image.pixels.resize(CheckedBufferSize(static_cast<std::uint32_t>(width),
                                          static_cast<std::uint32_t>(height), maxPixels));
    image.width = width;
    image.height = height;
    // A warning from libjpeg ("Premature end of JPEG file", "Corrupt JPEG data: ...") means rows
    // were made up, grey or garbage. Stop at the first one: half a picture is no picture.
    // Limiting scans refuses progressive files built to take forever to decode.
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
    if (tjDecompress2(handle.get(), data.data(), data.size(), image.pixels.data(), width,
                      width * kBytesPerPixel, height, TJPF_BGR, flags) != 0) {
        ThrowJpegError(handle.get());
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// Writing files

void CheckImage(const Image& image) {
    if (image.width <= 0 || image.height <= 0) throw ImageError("the image is empty");
    const auto expected = CheckedBufferSize(static_cast<std::uint32_t>(image.width),
                                            static_cast<std::uint32_t>(image.height),
                                            std::numeric_limits<std::uint64_t>::max());
    if (image.pixels.size() != expected) {
        throw ImageError("the image holds " + std::to_string(image.pixels.size()) +
                         " bytes of pixels, not " + std::to_string(expected));
    }
}

void CheckOptions(const SaveOptions& options, ImageFormat format) {
    if (format == ImageFormat::Jpeg && (options.jpegQuality < 1 || options.jpegQuality > 100)) {
        throw ImageError("JPEG quality must be 1 to 100, not " +
                         std::to_string(options.jpegQuality));
    }
    if (format == ImageFormat::Png && (options.pngCompression < 0 || options.pngCompression > 9)) {
        throw ImageError("PNG compression must be 0 to 9, not " +
                         std::to_string(options.pngCompression));
    }
}

// A file in the target's directory (so the final rename stays on one file system) that becomes the
// target on Commit() and is removed by the destructor otherwise.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const fs::path& target) : target_(target) {
        if (target.filename().empty()) ThrowErrno(EISDIR);
        const fs::path directory = target.parent_path().empty() ? "." : target.parent_path();
        std::random_device entropy;
        for (int attempt = 0;; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(entropy()));
            std::string name = target.filename().string();
            name.insert(0, 1, '.');
            name += suffix;
            temp_ = directory / name;
            // O_EXCL: never write into a file somebody else created. Mode 0666 lets the umask
            // decide, as it would for any new file.
            const int fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                Adopt(fd);
                return;
            }
            if (errno != EEXIST || attempt == 100) ThrowErrno(errno);
        }
    }

    ~TemporaryOutput() {
        if (file_) std::fclose(file_);
        if (!committed_) unlink(temp_.c_str());
    }
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    std::FILE* file() const { return file_; }

    void Write(std::span<const std::uint8_t> bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) ThrowErrno(errno);
    }

    void Commit() {
        // Flush and sync before the rename: renaming first could leave an empty or partial file
        // under the target's name after a crash.
        if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) ThrowErrno(errno);
        std::FILE* file = std::exchange(file_, nullptr);
        if (std::fclose(file) != 0) ThrowErrno(errno);
        if (std::rename(temp_.c_str(), target_.c_str()) != 0) ThrowErrno(errno);
        committed_ = true;
    }

private:
    void Adopt(int fd) {
        // Replacing a file should not change who may read it.
        struct stat existing;
        if (stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
            fchmod(fd, existing.st_mode & 07777);
        }
        file_ = fdopen(fd, "wb");
        if (!file_) {
            const int error = errno;
            close(fd);
            unlink(temp_.c_str());
            ThrowErrno(error);
        }
    }

    fs::path target_;
    fs::path temp_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

// ---------------------------------------------------------------------------------------------
// PNG encoding. libpng's simplified writer has no say over the zlib level, and its defaults (level
// 6, adaptive filters) are what makes a PNG slow to write, so this uses the classic API.
//
// Measured on a 12-megapixel image (4000 x 3000), best of three:
//                                 photo-like            stipple-like (white, solid dots)
//   libpng defaults, level 6    3.6 s   6.0 MB          2.7 s   6.8 MB
//   simplified "fast" flag      0.70 s 13.8 MB          0.39 s  6.5 MB
//   level 1, Sub filter         0.46 s  8.3 MB          0.40 s  8.0 MB
//   level 1, adaptive filters   0.86 s  8.2 MB          0.80 s  8.0 MB
// Level 1 with the Sub filter is as fast as anything and never badly large, whatever the image.
// Asking for level 4 or more means the size matters more than the time: use libpng's adaptive
// filter choice too.

class PngWriter {
public:
    PngWriter()
        : png_(
              png_create_write_struct(PNG_LIBPNG_VER_STRING, message_.data(), OnError, OnWarning)) {
        if (png_) info_ = png_create_info_struct(png_);
        if (!png_ || !info_) {
            png_destroy_write_struct(&png_, &info_);
            throw ImageError("cannot start the PNG encoder");
        }
    }
    ~PngWriter() { png_destroy_write_struct(&png_, &info_); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    void Write(std::FILE* file, const Image& image, int level) {
        if (!WriteOrJump(file, image, level)) {
            throw ImageError(std::string("cannot write PNG (") + message_.data() + ")");
        }
    }

private:
    // Copies into a fixed buffer: nothing on libpng's error path may allocate or throw.
    [[noreturn]] static void OnError(png_structp png, png_const_charp message) {
        auto* buffer = static_cast<char*>(png_get_error_ptr(png));
        std::snprintf(buffer, kMessageSize, "%s", message);
        png_longjmp(png, 1);
    }
    // Warnings on write are about ancillary chunks, and we write none that could earn one.
    static void OnWarning(png_structp, png_const_charp) {}

    // libpng reports errors by longjmp back into this frame, so it holds nothing with a
    // destructor and no local that changes after setjmp.
    bool WriteOrJump(std::FILE* file, const Image& image, int level) {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_init_io(png_, file);
        png_set_IHDR(png_, info_, static_cast<png_uint_32>(image.width),
                     static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // The pixels are plain sRGB; saying so keeps viewers from guessing.
        png_set_sRGB_gAMA_and_cHRM(png_, info_, PNG_sRGB_INTENT_PERCEPTUAL);
        png_set_compression_level(png_, level);
        png_set_filter(png_, PNG_FILTER_TYPE_BASE, level <= 3 ? PNG_FILTER_SUB : PNG_ALL_FILTERS);
        png_write_info(png_, info_);
        png_set_bgr(png_);
        WriteRows(image);
        png_write_end(png_, nullptr);
        return true;
    }

    void WriteRows(const Image& image) {
        const std::size_t stride = static_cast<std::size_t>(image.width) * kBytesPerPixel;
        for (int y = 0; y < image.height; ++y) {
            png_write_row(png_, image.pixels.data() + static_cast<std::size_t>(y) * stride);
        }
    }

    static constexpr std::size_t kMessageSize = 200;
    std::array<char, kMessageSize> message_{};
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// JPEG encoding. On the same 12-megapixel images TurboJPEG at quality 90 takes 0.06 s (photo) and
// 0.09 s (stipple) with 4:2:0 chroma, 0.12 s and 0.16 s with 4:4:4. Stipple output is small dots of
// colour on white, and 4:2:0 halves the colour resolution exactly where the dots' edges are, so the
// extra 0.06 s buys 4:4:4. TurboJPEG already uses the fast forward DCT by default when compressing.

struct TjFreer {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

void EncodeJpeg(TemporaryOutput& output, const Image& image, const SaveOptions& options) {
    // JPEG's own limit; checked here so TurboJPEG never sees a stride it cannot hold.
    constexpr int kJpegMaxSide = 65535;
    if (image.width > kJpegMaxSide || image.height > kJpegMaxSide) {
        throw ImageError("image too large for JPEG (" + std::to_string(image.width) + " x " +
                         std::to_string(image.height) + " pixels; JPEG allows 65535 per side)");
    }
    TjHandle handle(tjInitCompress());
    if (!handle) throw ImageError("cannot start the JPEG encoder (" + TjReason(nullptr) + ")");
    unsigned char* encoded = nullptr;
    unsigned long size = 0;
    const int result =
        tjCompress2(handle.get(), image.pixels.data(), image.width, image.width * kBytesPerPixel,
                    image.height, TJPF_BGR, &encoded, &size, TJSAMP_444, options.jpegQuality, 0);
    std::unique_ptr<unsigned char, TjFreer> owned(encoded);
    if (result != 0) throw ImageError("cannot write JPEG (" + TjReason(handle.get()) + ")");
    output.Write({owned.get(), size});
}

}  // namespace

std::optional<ImageFormat> FormatFromExtension(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    if (extension == ".png") return ImageFormat::Png;
    if (extension == ".jpg" || extension == ".jpeg") return ImageFormat::Jpeg;
    return std::nullopt;
}

Image LoadImage(const fs::path& path, std::uint64_t maxPixels) {
    const FilePtr file = OpenForReading(path);
    std::array<std::uint8_t, kPngSignature.size()> head;
    const std::size_t got = ReadSome(file.get(), head);
    if (got == 0) throw ImageError("empty file");
    const auto format = CheckContent(SniffFormat({head.data(), got}), FormatFromExtension(path));

    if (format == ImageFormat::Png) {
        // libpng reads the stream itself, signature included, and stops after the header until
        // the size has been checked.
        if (std::fseek(file.get(), 0, SEEK_SET) != 0) ThrowErrno(errno);
        return DecodePng(file.get(), maxPixels);
    }
    // TurboJPEG wants the whole file in memory.
    std::vector<std::uint8_t> data(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(got));
    AppendRest(file.get(), data);
    return DecodeJpeg(data, maxPixels);
}

void SaveImage(const Image& image, const fs::path& path, ImageFormat format,
               const SaveOptions& options) {
    CheckImage(image);
    CheckOptions(options, format);
    TemporaryOutput output(path);
    if (format == ImageFormat::Png) {
        PngWriter().Write(output.file(), image, options.pngCompression);
    } else {
        EncodeJpeg(output, image, options);
    }
    output.Commit();
}
