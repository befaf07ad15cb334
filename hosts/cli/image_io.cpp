#include "image_io.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmodule.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include <vips/vips8>

#include "interrupts.h"
#include "metadata.h"
#include "png_writer.h"

// libvips rebuilds a picture's EXIF block from its exif-* fields (and its size, resolution and
// orientation) with this before each save; its PNG we write ourselves, with the block it makes.
extern "C" int vips__exif_update(VipsImage* image);

namespace fs = std::filesystem;
using vips::VError;
using vips::VImage;
using vips::VSource;

namespace {

// The loaders a file may reach, by the class names libvips finds them by (the variants reading a
// source). Everything else (ImageMagick, PDF, SVG, Matlab, FITS, raw, libvips's own format) is
// refused before it sees more than the first bytes.
constexpr std::array<std::string_view, 7> kAllowedLoaders{
    "VipsForeignLoadPngSource",  "VipsForeignLoadSpngSource", "VipsForeignLoadJpegSource",
    "VipsForeignLoadWebpSource", "VipsForeignLoadTiffSource", "VipsForeignLoadNsgifSource",
    "VipsForeignLoadHeifSource"};

bool AllowedLoader(std::string_view name) {
    return std::find(kAllowedLoaders.begin(), kAllowedLoaders.end(), name) != kAllowedLoaders.end();
}

constexpr char kReadable[] = "PNG, JPEG, WebP, TIFF, GIF or HEIF";

[[noreturn]] void Fail(const std::string& file, const std::string& reason) {
    throw ImageError(file + ": " + reason);
}

// The formats we read, by how their files begin. The first bytes of any input are held against
// these before a loader sees it: what matches none is refused there, however long it goes on.
struct Signature {
    const char* format;
    std::string_view start;
    std::size_t at = 0;
};
constexpr Signature kSignatures[] = {
    {"PNG", {"\x89PNG\r\n\x1a\n", 8}},
    {"JPEG", "\xFF\xD8\xFF"},
    {"GIF", "GIF87a"},
    {"GIF", "GIF89a"},
    {"TIFF", {"II*\0", 4}},
    {"TIFF", {"MM\0*", 4}},
    {"TIFF", {"II+\0", 4}},  // BigTIFF
    {"TIFF", {"MM\0+", 4}},
    {"WebP", "RIFF"},  // and "WEBP" at 8, below
    {"HEIF", "ftyp", 4},
};
constexpr std::size_t kSniffBytes = 32;

// The format the first bytes announce, or the refusal in words of what they are.
struct Sniffed {
    const char* format = nullptr;
    std::string refusal;
};

std::string DescribeStart(std::string_view head) {
    const std::string_view shown = head.substr(0, 16);
    const bool text = std::all_of(shown.begin(), shown.end(), [](unsigned char c) {
        return (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r' || c == '\t';
    });
    std::string words;
    if (text) {
        words = "text \"";
        for (const char c : shown)
            words += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
        return words + (head.size() > shown.size() ? "...\"" : "\"");
    }
    words = "bytes";
    char hex[4];
    for (const unsigned char c : head.substr(0, 8)) {
        std::snprintf(hex, sizeof hex, " %02x", c);
        words += hex;
    }
    return words;
}

Sniffed Sniff(std::string_view head, bool file) {
    if (head.empty()) return {nullptr, file ? "empty file" : "empty input"};
    for (const Signature& signature : kSignatures) {
        const std::string_view start = signature.start;
        if (head.size() >= signature.at + start.size() &&
            head.substr(signature.at, start.size()) == start) {
            const bool webp = std::string_view(signature.format) == "WebP";
            if (!webp || (head.size() >= 12 && head.substr(8, 4) == "WEBP")) {
                return {signature.format, {}};
            }
        }
        if (signature.at == 0 && head.size() < start.size() && start.starts_with(head)) {
            return {nullptr, "cut short after " + std::to_string(head.size()) + " byte" +
                                 (head.size() == 1 ? "" : "s") + ", the start of a " +
                                 signature.format + " file"};
        }
    }
    return {nullptr, std::string("not an image this tool reads (") + kReadable +
                         "); it begins with " + DescribeStart(head)};
}

// libvips keeps one error buffer for the whole process, and a decode is judged by what it leaves
// there (see Decode). So decodes take turns, and the buffer is cleared only by whoever holds the
// turn: another job can neither wipe a decode's message nor, decoding too, add one of its own.
// Filtering and encoding still run side by side.
std::recursive_mutex gErrorBuffer;

// libvips's messages come one per line, each led by the operation that gave up. The first line
// is the cause; the names of the operations mean nothing to a user.
std::string Reason(const VError& error) {
    std::string text = error.what();
    {
        const std::lock_guard lock(gErrorBuffer);
        vips_error_clear();
    }
    text = text.substr(0, text.find('\n'));
    for (std::size_t colon; (colon = text.find(": ")) != std::string::npos &&
                            text.find(' ') > colon && text.find(' ') != std::string::npos;) {
        text.erase(0, colon + 2);  // "pngload_source: ", "VipsJpeg: "
    }
    return text.empty() ? "cannot decode the image" : text;
}

void FreeWithGlib(void* memory) { g_free(memory); }

// The colours an ICC profile's header says it describes, by its signature at byte 16.
int ProfileChannels(std::string_view profile) {
    if (profile.size() < 20) return 0;
    const std::string_view space = profile.substr(16, 4);
    if (space == "GRAY") return 1;
    if (space == "RGB " || space == "Lab ") return 3;
    if (space == "CMYK") return 4;
    return 0;
}

const char* ChannelsName(int channels) {
    return channels == 1 ? "grey" : channels == 3 ? "RGB" : channels == 4 ? "CMYK" : "other";
}

// Samples wider than 16 bits, floating point among them, as 16-bit ones by their nominal range
// (0 to 1 for floating point, as TIFF and libvips keep it): the steps below then scale them as
// they scale a 16-bit file. Values are taken as stored, gamma-encoded, as their 8-bit twins are.
VImage ToSixteenBits(VImage image) {
    const VipsBandFormat format = image.format();
    double scale;
    switch (format) {
        case VIPS_FORMAT_FLOAT:
        case VIPS_FORMAT_DOUBLE:
            scale = 65535;
            break;
        case VIPS_FORMAT_UINT:
            scale = 65535.0 / 4294967295.0;
            break;
        case VIPS_FORMAT_USHORT:
            scale = 1;
            break;
        default:
            return image;
    }
    VipsInterpretation interpretation = image.interpretation();
    switch (interpretation) {
        case VIPS_INTERPRETATION_CMYK:
            break;
        case VIPS_INTERPRETATION_LAB:
        case VIPS_INTERPRETATION_LABS:
        case VIPS_INTERPRETATION_LCH:
        case VIPS_INTERPRETATION_XYZ:
        case VIPS_INTERPRETATION_YXY:
        case VIPS_INTERPRETATION_CMC:
        case VIPS_INTERPRETATION_HSV:
            return image;  // libvips's own colour spaces, which it converts by their meaning
        default: {
            const int colours = image.bands() - (image.has_alpha() ? 1 : 0);
            interpretation = colours >= 3 ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_GREY16;
        }
    }
    if (scale != 1) image = image.linear(scale, 0.5).cast(VIPS_FORMAT_USHORT);
    return image.copy(VImage::option()->set("interpretation", interpretation));
}

// To 8-bit sRGB, three bands (four with alpha kept), upright geometry aside.
VImage ToSrgb(VImage image, const LoadOptions& options, const std::string& name,
              std::vector<std::string>& warnings) {
    image = ToSixteenBits(image);
    if (image.get_typeof(VIPS_META_ICC_NAME) != 0) {
        const void* data = nullptr;
        std::size_t size = 0;
        vips_image_get_blob(image.get_image(), VIPS_META_ICC_NAME, &data, &size);
        const int profile = ProfileChannels({static_cast<const char*>(data), size});
        const int colours = image.bands() - (image.has_alpha() ? 1 : 0);
        if (profile != 0 && profile != colours) {
            // libvips would refuse the file; its pixels are what a viewer shows without it.
            warnings.push_back(name + ": its " + ChannelsName(profile) +
                               " colour profile does not fit its " + ChannelsName(colours) +
                               " pixels; the profile is ignored");
            image = image.copy();
            image.remove(VIPS_META_ICC_NAME);
        }
    }
    if (image.get_typeof(VIPS_META_ICC_NAME) != 0 ||
        image.interpretation() == VIPS_INTERPRETATION_CMYK) {
        // CMYK without a profile of its own gets libvips's CMYK profile.
        image = image.icc_transform("srgb", VImage::option()
                                                ->set("embedded", true)
                                                ->set("intent", VIPS_INTENT_RELATIVE)
                                                ->set("depth", 8));
    }
    image = image.colourspace(VIPS_INTERPRETATION_sRGB);  // grey, 16-bit, Lab and the like
    const bool alpha = image.has_alpha();
    if (alpha && !options.keepAlpha) {
        // In the gamma-encoded values, as viewers do: 25 % black over white is 191.
        const Rgb bg = options.background;
        image = image.flatten(VImage::option()->set(
            "background", std::vector<double>{double(bg.red), double(bg.green), double(bg.blue)}));
    }
    const int bands = alpha && options.keepAlpha ? 4 : 3;
    if (image.bands() > bands) {
        // Colour and the alpha, which libvips keeps as the last band.
        image = bands == 3 ? image.extract_band(0, VImage::option()->set("n", 3))
                           : image.extract_band(0, VImage::option()->set("n", 3))
                                 .bandjoin(image.extract_band(image.bands() - 1));
    }
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    return image;
}

// libvips's HEIF module, with its codecs (x265, AOM, dav1d, libde265), is opened only when a file
// starts like HEIF or AVIF (an ISO media file: a box of type "ftyp" first): loading those
// libraries costs every other run a good part of its start-up time and memory.
const char* FindLoader(VSource& source, const char* format) {
    if (std::string_view(format) == "HEIF") {
        static std::once_flag opened;
        std::call_once(opened, [] {
            // GLib runs the module's registration as it opens it; without it HEIF is refused.
            g_module_open(MOXEL_VIPS_MODULE_DIR "/vips-heif.so", G_MODULE_BIND_LAZY);
        });
    }
    return vips_foreign_find_load_source(source.get_source());
}

// Memory for a picture's pixels. A large one is asked for in huge pages: on a virtual machine a
// page fault can cost ten microseconds, and faulting in 36 MB of 4 KiB pages took longer than
// decoding the JPEG that fills them.
Pixels NewPixels(std::size_t size) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (size < 4 * kHuge) {
        void* memory = std::malloc(std::max<std::size_t>(size, 1));
        if (memory == nullptr) throw std::bad_alloc();
        return {static_cast<std::uint8_t*>(memory), &std::free};
    }
    const std::size_t rounded = (size + kHuge - 1) / kHuge * kHuge;
    void* memory = std::aligned_alloc(kHuge, rounded);
    if (memory == nullptr) throw std::bad_alloc();
    madvise(memory, rounded, MADV_HUGEPAGE);  // a hint: without huge pages, small ones as before
    return {static_cast<std::uint8_t*>(memory), &std::free};
}

// Computes an 8-bit image into memory of our own, top to bottom.
Pixels Materialise(const VImage& image) {
    const std::size_t size = VIPS_IMAGE_SIZEOF_IMAGE(image.get_image());
    Pixels pixels = NewPixels(size);
    image.write(VImage::new_from_memory(pixels.get(), size, image.width(), image.height(),
                                        image.bands(), VIPS_FORMAT_UCHAR));
    return pixels;
}

// Several frames or pages: all but the first are left, and the user is told.
void NoteFrames(const VImage& image, const char* format, const std::string& name,
                std::vector<std::string>& warnings) {
    if (image.get_typeof(VIPS_META_N_PAGES) == 0) return;
    const int pages = image.get_int(VIPS_META_N_PAGES);
    if (pages <= 1) return;
    const std::string_view kind = format;
    const char* what = kind == "TIFF" ? "pages" : kind == "HEIF" ? "images" : "frames";
    warnings.push_back(name + ": " + std::to_string(pages) + " " + what +
                       "; only the first is filtered");
}

Image Decode(VSource source, const std::string& name, std::string_view head, bool file,
             const LoadOptions& options) {
    const Sniffed sniffed = Sniff(head, file);
    if (sniffed.format == nullptr) Fail(name, sniffed.refusal);
    const std::lock_guard lock(gErrorBuffer);
    vips_error_clear();  // what a failed encode elsewhere left
    const char* loader = FindLoader(source, sniffed.format);
    vips_error_clear();
    if (loader == nullptr || !AllowedLoader(loader)) {
        Fail(name, std::string("cut short or damaged ") + sniffed.format +
                       " file: its header does not read");
    }
    try {
        // Only the header is read here; the pixels come when Materialise asks for them, in
        // one pass from top to bottom.
        VImage image;
        VImage::call(loader, VImage::option()
                                 ->set("source", source)
                                 ->set("out", &image)
                                 ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                 ->set("fail_on", VIPS_FAIL_ON_ERROR));
        const std::uint64_t pixels = std::uint64_t(image.width()) * std::uint64_t(image.height());
        if (pixels > options.maxPixels) {
            Fail(name, "image too large (" + std::to_string(image.width()) + " x " +
                           std::to_string(image.height()) + " pixels; the limit is " +
                           std::to_string(options.maxPixels / 1'000'000) + " megapixels)");
        }
        int orientation = 1;
        if (image.get_typeof(VIPS_META_ORIENTATION) != 0) {
            orientation = image.get_int(VIPS_META_ORIENTATION);
        }

        Image result;
        NoteFrames(image, sniffed.format, name, result.warnings);
        result.xres = image.xres();
        result.yres = image.yres();

        // Reading the header can leave a message behind that the loader got over (HEIF probing
        // past the end of the bytes); only what the decode leaves counts, below.
        vips_error_clear();
        const VImage srgb = ToSrgb(image, options, name, result.warnings);
        result.pixels = Materialise(srgb);
        result.width = srgb.width();
        result.height = srgb.height();
        result.bands = srgb.bands();
        // libvips 8.14 now and then reports a loader's error (a cut-off PNG) and still hands over
        // the pixels, part of them never decoded. An error left behind is this load's failure.
        if (const char* left = vips_error_buffer(); left[0] != '\0') {
            std::string text = left;
            vips_error_clear();
            text = text.substr(0, text.find('\n'));
            Fail(name, text.substr(text.find(": ") == std::string::npos ? 0 : text.find(": ") + 2));
        }

        if (orientation >= 2 && orientation <= 8) {
            // Turned in memory, after the decode: a decoder reading top to bottom cannot hand
            // over columns. The unturned copy goes as soon as the turned one is made.
            VImage held = VImage::new_from_memory(result.pixels.get(), result.size(), result.width,
                                                  result.height, result.bands, VIPS_FORMAT_UCHAR);
            held.set(VIPS_META_ORIENTATION, orientation);
            const VImage upright = held.autorot();
            Pixels turned = Materialise(upright);
            result.pixels = std::move(turned);
            result.width = upright.width();
            result.height = upright.height();
        }
        TakeMetadata(image.get_image(), result, name);
        return result;
    } catch (const VError& error) {
        Fail(name, Reason(error));
    }
}

// Input that is not a regular file (a pipe, a terminal, a device, a socket): its first bytes,
// already read for the sniff, then the rest as the loader asks, up to a bound no picture within
// the pixel limit needs, so endless input neither hangs the tool nor fills its memory.
class StreamSource {
public:
    StreamSource(int fd, std::string head, std::uint64_t limit)
        : fd_(fd), head_(std::move(head)), limit_(limit), source_(vips_source_custom_new()) {
        g_signal_connect(source_, "read", G_CALLBACK(&StreamSource::OnRead), this);
    }
    ~StreamSource() {
        g_signal_handlers_disconnect_by_data(source_, this);
        g_object_unref(source_);
    }
    StreamSource(const StreamSource&) = delete;
    StreamSource& operator=(const StreamSource&) = delete;

    VSource source() const {
        g_object_ref(source_);  // VSource takes this reference over
        return VSource(VIPS_SOURCE(source_), vips::STEAL);
    }
    bool overLimit() const { return overLimit_; }

private:
    static gint64 OnRead(VipsSourceCustom*, void* buffer, gint64 length, void* self) {
        auto& stream = *static_cast<StreamSource*>(self);
        if (stream.served_ < stream.head_.size()) {
            const std::size_t n =
                std::min<std::size_t>(std::size_t(length), stream.head_.size() - stream.served_);
            std::memcpy(buffer, stream.head_.data() + stream.served_, n);
            stream.served_ += n;
            return gint64(n);
        }
        if (stream.served_ >= stream.limit_) {
            stream.overLimit_ = true;
            return -1;
        }
        const std::size_t want = std::min<std::uint64_t>(length, stream.limit_ - stream.served_);
        ssize_t got;
        do {
            got = read(stream.fd_, buffer, want);
        } while (got < 0 && errno == EINTR);
        if (got > 0) stream.served_ += std::size_t(got);
        return got;
    }

    int fd_;
    std::string head_;
    std::uint64_t limit_;
    std::uint64_t served_ = 0;
    bool overLimit_ = false;
    VipsSourceCustom* source_;
};

// The first bytes of a descriptor, for the sniff; a regular file's are read without moving on.
std::string ReadHead(int fd, bool regular, const std::string& name) {
    std::string head(kSniffBytes, '\0');
    std::size_t have = 0;
    while (have < head.size()) {
        const ssize_t got = regular ? pread(fd, head.data() + have, head.size() - have, off_t(have))
                                    : read(fd, head.data() + have, head.size() - have);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail(name, std::strerror(errno));
        if (got == 0) break;
        have += std::size_t(got);
    }
    head.resize(have);
    return head;
}

// The file behind a descriptor, or a system error naming it.
int OpenForReading(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail(path.string(), std::strerror(errno));
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        Fail(path.string(), std::strerror(EISDIR));
    }
    return fd;
}

Image LoadDescriptor(int fd, const std::string& name, const LoadOptions& options) {
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const std::string head = ReadHead(fd, regular, name);
    if (regular) return Decode(VSource::new_from_descriptor(fd), name, head, true, options);
    // The most a picture within the limit can take: 16-bit RGBA, uncompressed, and its metadata.
    const std::uint64_t limit =
        std::min<std::uint64_t>(options.maxPixels, UINT64_MAX / 16) * 8 + (std::uint64_t{64} << 20);
    StreamSource stream(fd, head, limit);
    try {
        return Decode(stream.source(), name, head, false, options);
    } catch (const ImageError&) {
        if (!stream.overLimit()) throw;
        Fail(name, "goes on past " + std::to_string(limit >> 20) +
                       " MB, more than any picture within the pixel limit takes");
    }
}

// Writes all the bytes, however many calls it takes; 0 or the system's error.
int WriteAll(int fd, const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < length;) {
        const ssize_t wrote = write(fd, bytes + done, length - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return wrote < 0 ? errno : EIO;
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

// A libvips target writing straight to a descriptor as the encoder goes, so no encoded copy of
// the picture is held; it keeps the system's reason when a write fails.
class DescriptorTarget {
public:
    explicit DescriptorTarget(int fd) : fd_(fd), target_(vips_target_custom_new()) {
        g_signal_connect(target_, "write", G_CALLBACK(&DescriptorTarget::OnWrite), this);
    }
    ~DescriptorTarget() { g_object_unref(target_); }
    DescriptorTarget(const DescriptorTarget&) = delete;
    DescriptorTarget& operator=(const DescriptorTarget&) = delete;

    VipsTarget* target() const { return VIPS_TARGET(target_); }
    int error() const { return error_; }

private:
    static gint64 OnWrite(VipsTargetCustom*, const void* data, gint64 length, void* self) {
        auto& sink = *static_cast<DescriptorTarget*>(self);
        if (sink.error_ == 0) sink.error_ = WriteAll(sink.fd_, data, std::size_t(length));
        return sink.error_ == 0 ? length : -1;
    }

    int fd_;
    int error_ = 0;
    VipsTargetCustom* target_;
};

}  // namespace

void StartImageLibrary() {
    static std::once_flag started;
    std::call_once(started, [] {
        // libvips loads every plug-in in its module directory when it starts (ImageMagick,
        // PDF, OpenSlide, JPEG XL), tens of libraries the tool never lets run. With VIPSHOME
        // pointing nowhere it finds none; the one we read with, HEIF, is loaded by name when a
        // file looks like one.
        setenv("VIPSHOME", "/nonexistent", 1);
        if (VIPS_INIT("moxel") != 0) throw ImageError("libvips: cannot start");
        vips_block_untrusted_set(TRUE);
        vips_cache_set_max(0);
        // Its warnings (a profile it ignores, a damaged but readable file) are not ours to
        // print; anything that stops a load comes back as an error instead.
        g_log_set_handler(
            "VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

void StopImageLibrary() {
    StopMetadataLibrary();
    vips_shutdown();
}

std::optional<ImageFormat> FormatFromName(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "png") return ImageFormat::Png;
    if (lower == "jpg" || lower == "jpeg") return ImageFormat::Jpeg;
    if (lower == "webp") return ImageFormat::Webp;
    if (lower == "tif" || lower == "tiff") return ImageFormat::Tiff;
    if (lower == "svg") return ImageFormat::Svg;
    return std::nullopt;
}

std::optional<ImageFormat> FormatFromExtension(const fs::path& path) {
    const std::string extension = path.extension().string();
    if (extension.size() < 2) return std::nullopt;
    return FormatFromName(std::string_view(extension).substr(1));
}

const char* FormatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::Png:
            return "PNG";
        case ImageFormat::Jpeg:
            return "JPEG";
        case ImageFormat::Webp:
            return "WebP";
        case ImageFormat::Tiff:
            return "TIFF";
        case ImageFormat::Svg:
            break;
    }
    return "SVG";
}

Image LoadImage(const fs::path& path, const LoadOptions& options) {
    StartImageLibrary();
    if (path == "-") return LoadDescriptor(STDIN_FILENO, "standard input", options);
    const int fd = OpenForReading(path);
    try {
        Image image = LoadDescriptor(fd, path.string(), options);
        close(fd);  // a file's source has its own copy
        return image;
    } catch (const VError& error) {
        close(fd);
        Fail(path.string(), Reason(error));
    } catch (...) {
        close(fd);
        throw;
    }
}

Image LoadImageFromMemory(const void* data, std::size_t size, const std::string& name,
                          const LoadOptions& options) {
    StartImageLibrary();
    const std::string_view head(static_cast<const char*>(data), std::min(size, kSniffBytes));
    return Decode(VSource::new_from_memory(data, size), name, head, true, options);
}

std::string PictureDataUri(const Image& image, int quality) {
    StartImageLibrary();
    void* bytes = nullptr;
    std::size_t size = 0;
    VImage::new_from_memory(image.pixels.get(), image.size(), image.width, image.height,
                            image.bands, VIPS_FORMAT_UCHAR)
        .write_to_buffer(".jpg", &bytes, &size,
                         VImage::option()->set("Q", quality)->set("strip", true));
    const Pixels encoded{static_cast<std::uint8_t*>(bytes), &FreeWithGlib};
    // Encoded straight into the URI's own string: no second copy of a picture's worth of text.
    constexpr std::string_view kPrefix = "data:image/jpeg;base64,";
    std::string uri(kPrefix.size() + (size / 3 + 1) * 4 + 4, '\0');
    kPrefix.copy(uri.data(), kPrefix.size());
    int state = 0, save = 0;
    char* out = uri.data() + kPrefix.size();
    out += g_base64_encode_step(encoded.get(), size, FALSE, out, &state, &save);
    out += g_base64_encode_close(FALSE, out, &state, &save);
    uri.resize(static_cast<std::size_t>(out - uri.data()));
    return uri;
}

namespace {

std::string BlobOf(const VImage& image, const char* name) {
    const void* data = nullptr;
    std::size_t size = 0;
    if (vips_image_get_blob(image.get_image(), name, &data, &size) != 0) return {};
    return {static_cast<const char*>(data), size};
}

// The metadata libvips would write into a PNG of `out`, as chunks: the resolution (always), and
// unless stripped the EXIF block rebuilt from its fields as libvips's savers rebuild it, and the
// XMP packet where the XMP standard puts it in PNG, uncompressed.
std::vector<PngChunk> PngMetadata(VImage& out, bool strip) {
    std::vector<PngChunk> chunks;
    std::string physical;
    for (const double perMillimetre : {out.xres(), out.yres()}) {
        const double perMetre = std::clamp(std::round(perMillimetre * 1000), 0.0, 2147483647.0);
        const auto value = static_cast<std::uint32_t>(perMetre);
        for (int shift = 24; shift >= 0; shift -= 8) physical += static_cast<char>(value >> shift);
    }
    physical += '\1';  // per metre
    chunks.push_back({"pHYs", physical});
    if (strip) return chunks;
    if (out.get_typeof(VIPS_META_EXIF_NAME) != 0) {
        if (vips__exif_update(out.get_image()) != 0) throw VError();
        std::string exif = BlobOf(out, VIPS_META_EXIF_NAME);
        // PNG holds the TIFF structure alone, without JPEG's "Exif\0\0" before it.
        if (std::string_view(exif).starts_with({"Exif\0\0", 6})) exif.erase(0, 6);
        if (!exif.empty()) chunks.push_back({"eXIf", std::move(exif)});
    }
    if (out.get_typeof(VIPS_META_XMP_NAME) != 0) {
        // Keyword, no compression, no language, no translated keyword, then the packet.
        std::string text("XML:com.adobe.xmp\0\0\0\0\0", 22);
        text += BlobOf(out, VIPS_META_XMP_NAME);
        chunks.push_back({"iTXt", std::move(text)});
    }
    return chunks;
}

// PNG is written here rather than by libvips: its libpng deflates on one thread at several times
// the time our filter takes. Level 1 of ISA-L with the Sub filter is as fast as PNG gets, and
// smaller than libpng's fastest.
void EncodePng(const Image& image, const SaveOptions& options, VImage& out, VipsTarget* target) {
    const std::vector<PngChunk> metadata = PngMetadata(out, options.strip);
    const unsigned threads =
        options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    bool written;
    try {
        const RowGate* gate = options.gate;
        written = WritePng(
            image.pixels.get(), image.width, image.height, image.bands, metadata, threads,
            [&](std::string_view bytes) {
                return vips_target_write(target, bytes.data(), bytes.size()) == 0;
            },
            gate != nullptr ? [gate](int rows) { return gate->Wait(rows); }
                            : std::function<bool(int)>());
    } catch (const std::runtime_error& error) {
        throw VError(error.what());  // said as libvips's own failures are
    }
    if (!written || vips_target_end(target) != 0) throw VError();
}

// Each region of a gated picture: its rows once the gate lets them through.
int GenerateGated(VipsRegion* region, void*, void* a, void* b, gboolean*) {
    const auto& image = *static_cast<const Image*>(a);
    const VipsRect& rect = region->valid;
    if (!static_cast<const RowGate*>(b)->Wait(rect.top + rect.height)) {
        vips_error("moxel", "the picture was never finished");
        return -1;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * image.bands;
    for (int y = rect.top; y < rect.top + rect.height; ++y) {
        std::memcpy(VIPS_REGION_ADDR(region, rect.left, y),
                    image.pixels.get() + y * rowBytes + std::size_t(rect.left) * image.bands,
                    std::size_t(rect.width) * image.bands);
    }
    return 0;
}

// The picture's pixels for libvips: straight from memory, or through the gate while rows are
// still being drawn, so that the save takes the first rows while the last are drawn.
VImage PixelsImage(const Image& image, const RowGate* gate) {
    if (gate == nullptr) {
        return VImage::new_from_memory(image.pixels.get(), image.size(), image.width, image.height,
                                       image.bands, VIPS_FORMAT_UCHAR);
    }
    VipsImage* pixels = vips_image_new();
    vips_image_init_fields(pixels, image.width, image.height, image.bands, VIPS_FORMAT_UCHAR,
                           VIPS_CODING_NONE, VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
    if (vips_image_pipelinev(pixels, VIPS_DEMAND_STYLE_THINSTRIP, nullptr) != 0 ||
        vips_image_generate(pixels, nullptr, GenerateGated, nullptr, const_cast<Image*>(&image),
                            const_cast<RowGate*>(gate)) != 0) {
        g_object_unref(pixels);
        throw VError();
    }
    return VImage(pixels);
}

void Encode(const Image& image, const SaveOptions& options, VipsTarget* target) {
    StartImageLibrary();
    VImage out = PixelsImage(image, options.gate)
                     .copy(VImage::option()
                               ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                               ->set("xres", image.xres)
                               ->set("yres", image.yres));
    if (!options.strip) GiveMetadata(image, options.format, out.get_image());
    // libvips gives every JPEG and WebP (a stripped WebP too) an EXIF block, made up where the
    // input had none, and a made-up one says "uncalibrated". The pixels are sRGB: it says so.
    if (options.format == ImageFormat::Jpeg || options.format == ImageFormat::Webp ||
        out.get_typeof(VIPS_META_EXIF_NAME) != 0) {
        out.set("exif-ifd2-ColorSpace", "1 (sRGB, Short, 1 components, 2 bytes)");
    }
    if (options.format == ImageFormat::Png) return EncodePng(image, options, out, target);
    auto saver = VImage::option()->set("strip", options.strip);
    const char* suffix = ".png";
    switch (options.format) {
        case ImageFormat::Png:
            break;
        case ImageFormat::Jpeg:
            suffix = ".jpg";
            saver->set("Q", options.quality);
            break;
        case ImageFormat::Webp:
            suffix = ".webp";
            saver->set("Q", options.quality);
            break;
        case ImageFormat::Tiff:
            suffix = ".tif";
            saver->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE);
            break;
        case ImageFormat::Svg:
            throw std::logic_error("SVG documents are written by WriteBytes");
    }
    if (options.format == ImageFormat::Tiff) {
        // libtiff seeks back to write the directory after the strips, which neither a pipe nor
        // our descriptor target can do: the file is made in memory and then written out whole.
        void* bytes = nullptr;
        std::size_t size = 0;
        out.write_to_buffer(suffix, &bytes, &size, saver);
        const Pixels encoded{static_cast<std::uint8_t*>(bytes), &FreeWithGlib};
        if (vips_target_write(target, bytes, size) != 0 || vips_target_end(target) != 0) {
            throw VError();
        }
        return;
    }
    g_object_ref(target);  // VTarget takes this reference over
    out.write_to_target(suffix, vips::VTarget(target, vips::STEAL), saver);
}

// The name a chain of symbolic links ends at (which need not exist yet: the link may dangle), or
// the descriptor of ours it names (/dev/stdout, /dev/fd/N, /proc/self/fd/N: written through as
// it is, which works where opening it anew would not, and keeps how the shell opened it), and
// whether it passes through /proc, whose other links name open files rather than places.
struct FinalName {
    fs::path path;
    std::optional<int> descriptor;
    bool throughProc = false;
};

void Look(FinalName& name) {
    char real[PATH_MAX];
    const fs::path parent = name.path.parent_path().empty() ? "." : name.path.parent_path();
    if (realpath(parent.c_str(), real) == nullptr) return;
    const std::string_view directory = real;
    name.throughProc = name.throughProc || directory.starts_with("/proc/");
    const std::string leaf = name.path.filename().string();
    if (directory == "/proc/" + std::to_string(getpid()) + "/fd" && !leaf.empty() &&
        leaf.size() < 10 && std::all_of(leaf.begin(), leaf.end(), ::isdigit)) {
        name.descriptor = std::stoi(leaf);
    }
}

FinalName Follow(const fs::path& given) {
    FinalName name{given, std::nullopt, false};
    for (int hops = 0; hops < 40; ++hops) {
        Look(name);
        struct stat info;
        if (name.descriptor || lstat(name.path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return name;
        }
        char target[PATH_MAX];
        const ssize_t length = readlink(name.path.c_str(), target, sizeof target);
        if (length < 0 || length == sizeof target) return name;
        const fs::path next(std::string(target, std::size_t(length)));
        name.path = next.is_absolute() ? next : name.path.parent_path() / next;
    }
    Fail(given.string(), std::strerror(ELOOP));
}

}  // namespace

// A file in the target's directory (so the final rename stays on one file system) that becomes
// the target on Commit() and is removed otherwise.
class OutputFile::Temporary {
public:
    // `existing`: the target's status, when it is a file to replace.
    Temporary(const fs::path& target, const std::string& name, const struct stat* existing)
        : target_(target), name_(name) {
        const fs::path directory = target.parent_path().empty() ? "." : target.parent_path();
        std::random_device entropy;
        for (int attempt = 0;; ++attempt) {
            // Short and of fixed length, whatever the target is called: a name as long as the
            // file system allows still has a temporary beside it.
            char leaf[32];
            std::snprintf(leaf, sizeof leaf, ".moxel-%08x.tmp", static_cast<unsigned>(entropy()));
            temp_ = directory / leaf;
            guard_.emplace(temp_.string());
            // O_EXCL: never write into a file somebody else made. Mode 0666 lets the umask
            // decide, as for any new file.
            fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) break;
            guard_.reset();
            if (errno != EEXIST || attempt == 100) Fail(name_, std::strerror(errno));
        }
        if (existing != nullptr) {
            // Replacing a file should not change who may read it, nor, where we may, whose it is.
            fchmod(fd_, existing->st_mode & 07777);
            if (fchown(fd_, existing->st_uid, existing->st_gid) != 0 &&
                fchown(fd_, static_cast<uid_t>(-1), existing->st_gid) != 0) {
                // Another user's file the directory lets us replace: it becomes ours, as with mv.
            }
        }
    }

    ~Temporary() {
        if (fd_ >= 0) close(fd_);
        if (!committed_) unlink(temp_.c_str());
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    int fd() const { return fd_; }

    void Commit() {
        // Synced before the rename: renaming first could leave an empty or partial file under
        // the target's name after a crash.
        if (fsync(fd_) != 0) Fail(name_, std::strerror(errno));
        const int fd = std::exchange(fd_, -1);
        if (close(fd) != 0) Fail(name_, std::strerror(errno));
        if (std::rename(temp_.c_str(), target_.c_str()) != 0) Fail(name_, std::strerror(errno));
        committed_ = true;
        guard_.reset();
    }

private:
    fs::path target_;
    std::string name_;
    fs::path temp_;
    std::optional<TemporaryFileGuard> guard_;
    int fd_ = -1;
    bool committed_ = false;
};

OutputFile::OutputFile(const fs::path& path, bool toTerminal) {
    if (path == "-") {
        name_ = "standard output";
        fd_ = STDOUT_FILENO;
    } else {
        name_ = path.string();
        struct stat info;
        const bool exists = stat(path.c_str(), &info) == 0;
        if (!exists && errno != ENOENT) Fail(name_, std::strerror(errno));
        if (exists && S_ISDIR(info.st_mode)) Fail(name_, std::strerror(EISDIR));
        const FinalName final = Follow(path);
        if (final.descriptor) {
            fd_ = *final.descriptor;
            if (fcntl(fd_, F_GETFD) < 0) Fail(name_, std::strerror(errno));
        } else if (!exists || (S_ISREG(info.st_mode) && !final.throughProc)) {
            if (exists && faccessat(AT_FDCWD, final.path.c_str(), W_OK, AT_EACCESS) != 0) {
                Fail(name_, std::strerror(errno));
            }
            if (final.path.filename().empty()) Fail(name_, std::strerror(EISDIR));
            temporary_ = std::make_unique<Temporary>(final.path, name_, exists ? &info : nullptr);
            fd_ = temporary_->fd();
        } else {
            // A device, a FIFO, a terminal, an open file named through /proc: written in place.
            fd_ = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
            if (fd_ < 0) Fail(name_, std::strerror(errno));
            ownsFd_ = true;
        }
    }
    if (!toTerminal && isatty(fd_)) {
        if (ownsFd_) close(fd_);
        ownsFd_ = false;
        Fail(name_, "not writing a binary image to a terminal (redirect it, or give --force)");
    }
}

OutputFile::~OutputFile() {
    if (ownsFd_) close(fd_);
}

void OutputFile::Finish() {
    if (temporary_) {
        temporary_->Commit();
    } else if (ownsFd_) {
        ownsFd_ = false;
        if (close(fd_) != 0) Fail(name_, std::strerror(errno));
    }
}

void OutputFile::Write(const Image& image, const SaveOptions& options) {
    DescriptorTarget sink(fd_);
    try {
        Encode(image, options, sink.target());
    } catch (const VError& error) {
        if (sink.error() == 0) Fail(name_, Reason(error));
    }
    if (sink.error() != 0) Fail(name_, std::strerror(sink.error()));
    Finish();
}

void OutputFile::WriteBytes(std::string_view bytes) {
    const int error = WriteAll(fd_, bytes.data(), bytes.size());
    if (error != 0) Fail(name_, std::strerror(error));
    Finish();
}
