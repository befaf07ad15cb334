#include "metadata.h"

#include <dlfcn.h>
#include <libexif/exif-data.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "xmp_iptc.h"

namespace {

constexpr std::string_view kPhotoshop{"Photoshop 3.0\0", 14};
constexpr std::string_view kExifHeader{"Exif\0\0", 6};

std::string_view Blob(VipsImage* image, const char* name) {
    const void* data = nullptr;
    std::size_t size = 0;
    if (vips_image_get_blob(image, name, &data, &size) != 0) return {};
    return {static_cast<const char*>(data), size};
}

void SetBlob(VipsImage* image, const char* name, std::string_view bytes) {
    vips_image_set_blob_copy(image, name, bytes.data(), bytes.size());
}

// The EXIF block as true of the output: without the original's thumbnail (IFD1 and the JPEG it
// points to), which would show the photo, not the stipple, wherever a viewer prefers it; sRGB as
// its colour space, without an interoperability index (R03 says Adobe RGB) or an embedded
// profile. Nothing when it says nothing of the kind.
std::optional<std::string> TrueExif(std::string_view block) {
    std::string bytes(block.starts_with(kExifHeader) ? "" : kExifHeader);
    bytes += block;
    ExifData* exif = exif_data_new();
    // As libvips loads it: as stored, without the tags the standard would add.
    exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(exif, reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<unsigned>(bytes.size()));
    bool changed = false;
    auto drop = [&](ExifIfd ifd, ExifTag tag) {
        if (ExifEntry* entry = exif_content_get_entry(exif->ifd[ifd], tag)) {
            exif_content_remove_entry(exif->ifd[ifd], entry);
            changed = true;
        }
    };
    if (exif->size > 0) {
        ExifMem* memory = exif_mem_new_default();  // the allocator the loader used
        exif_mem_free(memory, exif->data);
        exif_mem_unref(memory);
        exif->data = nullptr;
        exif->size = 0;
        changed = true;
    }
    ExifContent* thumbnail = exif->ifd[EXIF_IFD_1];
    while (thumbnail->count > 0) {
        exif_content_remove_entry(thumbnail, thumbnail->entries[thumbnail->count - 1]);
        changed = true;
    }
    drop(EXIF_IFD_INTEROPERABILITY, EXIF_TAG_INTEROPERABILITY_INDEX);
    drop(EXIF_IFD_0, EXIF_TAG_INTER_COLOR_PROFILE);
    ExifEntry* space = exif_content_get_entry(exif->ifd[EXIF_IFD_EXIF], EXIF_TAG_COLOR_SPACE);
    if (space != nullptr && space->format == EXIF_FORMAT_SHORT && space->components == 1 &&
        exif_get_short(space->data, exif_data_get_byte_order(exif)) != 1) {
        exif_set_short(space->data, exif_data_get_byte_order(exif), 1);
        changed = true;
    }
    std::optional<std::string> result;
    if (changed) {
        unsigned char* saved = nullptr;
        unsigned length = 0;
        exif_data_save_data(exif, &saved, &length);
        if (saved != nullptr) result.emplace(reinterpret_cast<char*>(saved), length);
        std::free(saved);
    }
    exif_data_free(exif);
    return result;
}

// libvips rebuilds the EXIF block from these fields when it saves, and drops a tag whose field is
// gone: the thumbnail's directory, the interoperability index (R03: Adobe RGB), an embedded
// profile. Orientation comes from libvips's own field instead.
bool DroppedExifField(std::string_view name) {
    return name.starts_with("exif-ifd1-") || name == "exif-ifd4-InteroperabilityIndex" ||
           name == "exif-ifd0-InterColorProfile" || name == "exif-ifd0-Orientation";
}

// The Exiv2 module, opened the first time a picture needs it, from where the program's libraries
// are installed (and built), relative to the program.
struct Module {
    const XmpIptc* functions = nullptr;
    std::string error;  // why not, if not
};
std::atomic<bool> gModuleOpened{false};

const Module& OpenModule() {
    static const Module module = [] {
        Module opened;
        char program[PATH_MAX];
        const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
        const std::filesystem::path path =
            std::filesystem::path(std::string(program, std::size_t(std::max<ssize_t>(length, 0))))
                .parent_path() /
            MOXEL_XMP_IPTC_MODULE;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        const auto entry =
            handle == nullptr
                ? nullptr
                : reinterpret_cast<const XmpIptc* (*)()>(dlsym(handle, "MoxelXmpIptc"));
        if (entry == nullptr) {
            opened.error = dlerror();
        } else {
            opened.functions = entry();
            gModuleOpened = true;
        }
        return opened;
    }();
    return module;
}

}  // namespace

void TakeMetadata(VipsImage* loaded, Image& image, const std::string& file) {
    image.metadata = vips::VImage::black(1, 1);
    VipsImage* to = image.metadata.get_image();
    gchar** names = vips_image_get_fields(loaded);
    for (gchar** field = names; *field != nullptr; ++field) {
        const std::string_view name = *field;
        if (name == VIPS_META_EXIF_NAME) {
            const std::string_view block = Blob(loaded, *field);
            const std::optional<std::string> made = TrueExif(block);
            SetBlob(to, *field, made ? *made : block);
        } else if (name == "exif-ifd2-ColorSpace") {
            // Uncalibrated (65535), as cameras mark Adobe RGB, or already sRGB: sRGB now.
            vips_image_set_string(to, *field, "1 (sRGB, Short, 1 components, 2 bytes)");
        } else if (name.starts_with("exif-ifd") && !DroppedExifField(name)) {
            GValue value{};
            if (vips_image_get(loaded, *field, &value) == 0) {
                vips_image_set(to, *field, &value);
                g_value_unset(&value);
            }
        } else if (name == VIPS_META_XMP_NAME || name == VIPS_META_IPTC_NAME ||
                   name == VIPS_META_PHOTOSHOP_NAME) {
            const XmpIptc* module = OpenModule().functions;
            if (module == nullptr) {
                const std::string warning = file + ": XMP and IPTC left out: " + OpenModule().error;
                if (image.warnings.empty() || image.warnings.back() != warning) {
                    image.warnings.push_back(warning);
                }
            } else if (name == VIPS_META_XMP_NAME) {
                std::string kept;
                if (module->trueXmp(std::string(Blob(loaded, *field)), image.width, image.height,
                                    kept)) {
                    SetBlob(to, *field, kept);
                }
            } else if (image.iptc.empty()) {
                module->iptcRecords(Blob(loaded, *field), image.iptc);
            }
        }
    }
    g_strfreev(names);
}

void GiveMetadata(const Image& image, ImageFormat format, VipsImage* out) {
    VipsImage* from = image.metadata.get_image();
    if (from == nullptr) return;
    gchar** names = vips_image_get_fields(from);
    for (gchar** field = names; *field != nullptr; ++field) {
        const std::string_view name = *field;
        if (!name.starts_with("exif-") && name != VIPS_META_XMP_NAME) continue;
        GValue value{};
        if (vips_image_get(from, *field, &value) == 0) {
            vips_image_set(out, *field, &value);
            g_value_unset(&value);
        }
    }
    g_strfreev(names);
    // The pixels are upright now: any EXIF block must say so.
    if (vips_image_get_typeof(out, VIPS_META_EXIF_NAME) != 0) {
        vips_image_set_int(out, VIPS_META_ORIENTATION, 1);
    }
    const XmpIptc* module = image.iptc.empty() ? nullptr : OpenModule().functions;
    if (module == nullptr) return;
    switch (format) {
        case ImageFormat::Jpeg:
            SetBlob(out, VIPS_META_IPTC_NAME,
                    std::string(kPhotoshop) + module->photoshopResources(image.iptc));
            break;
        case ImageFormat::Tiff:
            // As Photoshop resources, which libvips writes whole, where TIFF's IPTC tag loses
            // three quarters of them (libvips counts it in 4-byte words, libtiff in bytes).
            SetBlob(out, VIPS_META_PHOTOSHOP_NAME, module->photoshopResources(image.iptc));
            break;
        case ImageFormat::Png:
        case ImageFormat::Webp: {
            const std::string_view packet = vips_image_get_typeof(out, VIPS_META_XMP_NAME) != 0
                                                ? Blob(out, VIPS_META_XMP_NAME)
                                                : std::string_view();
            SetBlob(out, VIPS_META_XMP_NAME, module->xmpWithIptc(packet, image.iptc));
            break;
        }
        case ImageFormat::Svg:
            break;
    }
}

void StopMetadataLibrary() {
    // Only if a picture opened it: this is no reason to load it.
    if (gModuleOpened) OpenModule().functions->stop();
}
