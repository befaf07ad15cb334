#include "image_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmodule.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

#include <vips/vips8>

#include "interrupts.h"

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

[[noreturn]] void Fail(const std::string& file, const std::string& reason) {
    throw ImageError(file + ": " + reason);
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

// Fields a saver turns back into the file's EXIF and XMP blocks. libvips keeps each EXIF tag as a
// field of its own beside the block and drops the tags whose fields are gone, so both travel.
bool CarriedField(std::string_view name) {
    return (name.starts_with("exif-") && name != "exif-ifd0-Orientation") || name == "xmp-data";
}

void CopyFields(VipsImage* from, VipsImage* to) {
    gchar** names = vips_image_get_fields(from);
    for (gchar** name = names; *name != nullptr; ++name) {
        if (!CarriedField(*name)) continue;
        GValue value{};
        if (vips_image_get(from, *name, &value) == 0) {
            vips_image_set(to, *name, &value);
            g_value_unset(&value);
        }
    }
    g_strfreev(names);
}

// To 8-bit sRGB, three bands, upright geometry aside.
VImage ToSrgb(VImage image, const LoadOptions& options) {
    if (image.get_typeof(VIPS_META_ICC_NAME) != 0 ||
        image.interpretation() == VIPS_INTERPRETATION_CMYK) {
        // CMYK without a profile of its own gets libvips's CMYK profile.
        image = image.icc_transform("srgb", VImage::option()
                                                ->set("embedded", true)
                                                ->set("intent", VIPS_INTENT_RELATIVE)
                                                ->set("depth", 8));
    }
    image = image.colourspace(VIPS_INTERPRETATION_sRGB);  // grey, 16-bit, Lab and the like
    if (image.has_alpha()) {
        // In the gamma-encoded values, as viewers do: 25 % black over white is 191.
        const Rgb bg = options.background;
        image = image.flatten(VImage::option()->set(
            "background", std::vector<double>{double(bg.red), double(bg.green), double(bg.blue)}));
    }
    if (image.bands() > 3) image = image.extract_band(0, VImage::option()->set("n", 3));
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    return image;
}

// libvips's HEIF module, with its codecs (x265, AOM, dav1d, libde265), is opened only when no other
// loader takes a file and the file starts like HEIF or AVIF (an ISO media file: a box of type
// "ftyp" first): loading those libraries costs every other run a good part of its start-up time
// and memory. Sniffing only after the other loaders have looked keeps their view of the source as
// it always was. Returns the loader's name, or null.
const char* FindLoader(VSource& source) {
    const char* loader = vips_foreign_find_load_source(source.get_source());
    if (loader != nullptr) return loader;
    const auto* head = static_cast<const unsigned char*>(vips_source_sniff(source.get_source(), 8));
    if (head == nullptr || std::memcmp(head + 4, "ftyp", 4) != 0) return nullptr;
    static std::once_flag opened;
    std::call_once(opened, [] {
        // GLib runs the module's registration as it opens it; without it HEIF is refused.
        g_module_open(MOXEL_VIPS_MODULE_DIR "/vips-heif.so", G_MODULE_BIND_LAZY);
    });
    vips_error_clear();  // the first search's "not a known format"
    return vips_foreign_find_load_source(source.get_source());
}

Image Decode(VSource source, const std::string& name, const LoadOptions& options) {
    const std::lock_guard lock(gErrorBuffer);
    vips_error_clear();  // what a failed encode elsewhere left
    const char* loader = FindLoader(source);
    if (loader == nullptr || !AllowedLoader(loader)) {
        vips_error_clear();
        Fail(name, "not an image this tool reads (PNG, JPEG, WebP, TIFF, GIF or HEIF)");
    }
    try {
        // Only the header is read here; the pixels come when write_to_memory asks for them, in
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
        result.metadata = VImage::black(1, 1);
        CopyFields(image.get_image(), result.metadata.get_image());
        result.xres = image.xres();
        result.yres = image.yres();

        // Reading the header can leave a message behind that the loader got over (HEIF probing
        // past the end of the bytes); only what the decode leaves counts, below.
        vips_error_clear();
        const VImage srgb = ToSrgb(image, options);
        std::size_t size = 0;
        result.pixels = {static_cast<std::uint8_t*>(srgb.write_to_memory(&size)), &FreeWithGlib};
        result.width = srgb.width();
        result.height = srgb.height();
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
                                                  result.height, 3, VIPS_FORMAT_UCHAR);
            held.set(VIPS_META_ORIENTATION, orientation);
            const VImage upright = held.autorot();
            Pixels turned{static_cast<std::uint8_t*>(upright.write_to_memory(&size)),
                          &FreeWithGlib};
            result.pixels = std::move(turned);
            result.width = upright.width();
            result.height = upright.height();
        }
        return result;
    } catch (const VError& error) {
        Fail(name, Reason(error));
    }
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

Image LoadImage(const fs::path& path, const LoadOptions& options) {
    StartImageLibrary();
    if (path == "-") {
        // A pipe cannot seek: libvips keeps what it has read and reads on as the loader needs.
        return Decode(VSource::new_from_descriptor(STDIN_FILENO), "standard input", options);
    }
    const int fd = OpenForReading(path);
    try {
        VSource source = VSource::new_from_descriptor(fd);
        close(fd);  // the source has its own copy
        return Decode(source, path.string(), options);
    } catch (const VError& error) {
        close(fd);
        Fail(path.string(), Reason(error));
    }
}

Image LoadImageFromMemory(const void* data, std::size_t size, const std::string& name,
                          const LoadOptions& options) {
    StartImageLibrary();
    return Decode(VSource::new_from_memory(data, size), name, options);
}

std::string PictureDataUri(const Image& image, int quality) {
    StartImageLibrary();
    void* bytes = nullptr;
    std::size_t size = 0;
    VImage::new_from_memory(image.pixels.get(), image.size(), image.width, image.height, 3,
                            VIPS_FORMAT_UCHAR)
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

void Encode(const Image& image, const SaveOptions& options, VipsTarget* target) {
    StartImageLibrary();
    VImage out = VImage::new_from_memory(image.pixels.get(), image.size(), image.width,
                                         image.height, 3, VIPS_FORMAT_UCHAR)
                     .copy(VImage::option()
                               ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                               ->set("xres", image.xres)
                               ->set("yres", image.yres));
    const bool metadata = !options.strip && image.metadata.get_image() != nullptr;
    if (metadata) {
        CopyFields(image.metadata.get_image(), out.get_image());
        // The pixels are upright now: any EXIF block must say so.
        if (out.get_typeof(VIPS_META_EXIF_NAME) != 0) out.set(VIPS_META_ORIENTATION, 1);
    }
    auto saver = VImage::option()->set("strip", !metadata);
    const char* suffix = ".png";
    switch (options.format) {
        case ImageFormat::Png:
            // Level 1 with the Sub filter: as fast as PNG gets and never badly large.
            saver->set("compression", 1)->set("filter", VIPS_FOREIGN_PNG_FILTER_SUB);
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

}  // namespace

// A file in the target's directory (so the final rename stays on one file system) that becomes
// the target on Commit() and is removed otherwise.
class OutputFile::Temporary {
public:
    explicit Temporary(const fs::path& target) : target_(target) {
        if (target.filename().empty()) Fail(target.string(), std::strerror(EISDIR));
        const fs::path directory = target.parent_path().empty() ? "." : target.parent_path();
        std::random_device entropy;
        for (int attempt = 0;; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(entropy()));
            // Appended, not "." + name: GCC 12 warns falsely on that without LTO (its bug 105329).
            std::string name(".");
            name.append(target.filename().string()).append(suffix);
            temp_ = directory / name;
            guard_.emplace(temp_.string());
            // O_EXCL: never write into a file somebody else made. Mode 0666 lets the umask
            // decide, as for any new file.
            fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) break;
            guard_.reset();
            if (errno != EEXIST || attempt == 100) Fail(target.string(), std::strerror(errno));
        }
        // Replacing a file should not change who may read it.
        struct stat existing;
        if (stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
            fchmod(fd_, existing.st_mode & 07777);
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
        const std::string name = target_.string();
        // Synced before the rename: renaming first could leave an empty or partial file under
        // the target's name after a crash.
        if (fsync(fd_) != 0) Fail(name, std::strerror(errno));
        const int fd = std::exchange(fd_, -1);
        if (close(fd) != 0) Fail(name, std::strerror(errno));
        if (std::rename(temp_.c_str(), target_.c_str()) != 0) Fail(name, std::strerror(errno));
        committed_ = true;
        guard_.reset();
    }

private:
    fs::path target_;
    fs::path temp_;
    std::optional<TemporaryFileGuard> guard_;
    int fd_ = -1;
    bool committed_ = false;
};

OutputFile::OutputFile(const fs::path& path) : path_(path) {
    if (path != "-") temporary_ = std::make_unique<Temporary>(path);
}

OutputFile::~OutputFile() = default;

void OutputFile::Write(const Image& image, const SaveOptions& options) {
    const std::string name = temporary_ ? path_.string() : "standard output";
    DescriptorTarget sink(temporary_ ? temporary_->fd() : STDOUT_FILENO);
    try {
        Encode(image, options, sink.target());
    } catch (const VError& error) {
        if (sink.error() == 0) Fail(name, Reason(error));
    }
    if (sink.error() != 0) Fail(name, std::strerror(sink.error()));
    if (temporary_) temporary_->Commit();
}

void OutputFile::WriteBytes(std::string_view bytes) {
    const std::string name = temporary_ ? path_.string() : "standard output";
    const int error =
        WriteAll(temporary_ ? temporary_->fd() : STDOUT_FILENO, bytes.data(), bytes.size());
    if (error != 0) Fail(name, std::strerror(error));
    if (temporary_) temporary_->Commit();
}
