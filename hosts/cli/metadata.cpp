#include "metadata.h"

#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <mutex>
#include <optional>
#include <string_view>

namespace {

// Exiv2's XMP toolkit keeps global state and is not safe on several threads at once; batch jobs
// take turns through it (a few kilobytes each, so nobody waits long).
std::mutex gExiv2;

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

// Without the packet wrapper, which the formats do not need, and its 2 KB of padding for editing
// in place, which nobody does to a stipple.
bool Encode(const Exiv2::XmpData& xmp, std::string& packet) {
    return Exiv2::XmpParser::encode(
               packet, xmp,
               Exiv2::XmpParser::useCompactFormat | Exiv2::XmpParser::omitPacketWrapper) == 0;
}

// The XMP packet with what it says of the pixels made true: upright, sRGB where it names a
// colour space, the picture's size where it gives one. Unchanged when it says none of that;
// empty when it does not read.
std::string TrueXmp(const std::string& packet, int width, int height) {
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, packet) != 0) return {};
        bool changed = false;
        auto set = [&](const char* key, const std::string& value) {
            const auto at = xmp.findKey(Exiv2::XmpKey(key));
            if (at != xmp.end() && at->toString() != value) {
                at->setValue(value);
                changed = true;
            }
        };
        set("Xmp.tiff.Orientation", "1");
        set("Xmp.exif.ColorSpace", "1");
        set("Xmp.tiff.ImageWidth", std::to_string(width));
        set("Xmp.tiff.ImageLength", std::to_string(height));
        set("Xmp.exif.PixelXDimension", std::to_string(width));
        set("Xmp.exif.PixelYDimension", std::to_string(height));
        // The profile the original was in ("Adobe RGB (1998)").
        if (const auto at = xmp.findKey(Exiv2::XmpKey("Xmp.photoshop.ICCProfile"));
            at != xmp.end()) {
            xmp.erase(at);
            changed = true;
        }
        if (!changed) return packet;
        std::string out;
        return Encode(xmp, out) ? out : std::string();
    } catch (const Exiv2::AnyError&) {
        return {};
    }
}

// The IPTC records (IIM), out of the Photoshop resources JPEG and TIFF keep them in, or as TIFF's
// own tag holds them; empty unless they read.
std::string IptcRecords(std::string_view block) {
    if (block.starts_with(kPhotoshop)) block.remove_prefix(kPhotoshop.size());
    if (block.starts_with("8BIM")) {
        const Exiv2::byte* record = nullptr;
        std::uint32_t header = 0, size = 0;
        if (Exiv2::Photoshop::locateIptcIrb(reinterpret_cast<const Exiv2::byte*>(block.data()),
                                            static_cast<long>(block.size()), &record, &header,
                                            &size) != 0) {
            return {};
        }
        block = {reinterpret_cast<const char*>(record) + header, size};
    }
    try {
        Exiv2::IptcData iptc;
        if (Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(block.data()),
                                      static_cast<std::uint32_t>(block.size())) != 0 ||
            iptc.empty()) {
            return {};
        }
    } catch (const Exiv2::AnyError&) {
        return {};
    }
    return std::string(block);
}

Exiv2::IptcData DecodeIptc(const std::string& records) {
    Exiv2::IptcData iptc;
    Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(records.data()),
                              static_cast<std::uint32_t>(records.size()));
    return iptc;
}

// PNG and WebP have no place for IPTC records: their captions, credits and keywords go into the
// XMP as IPTC Core properties, where the XMP does not already say otherwise.
std::string XmpWithIptc(std::string_view packet, const std::string& records) {
    try {
        Exiv2::XmpData xmp;
        if (!packet.empty() && Exiv2::XmpParser::decode(xmp, std::string(packet)) != 0) {
            return std::string(packet);
        }
        const Exiv2::IptcData iptc = DecodeIptc(records);
        Exiv2::XmpData converted;
        Exiv2::copyIptcToXmp(iptc, converted, iptc.detectCharset());
        for (const Exiv2::Xmpdatum& datum : converted) {
            if (xmp.findKey(Exiv2::XmpKey(datum.key())) == xmp.end()) xmp.add(datum);
        }
        std::string out;
        return Encode(xmp, out) ? out : std::string(packet);
    } catch (const Exiv2::AnyError&) {
        return std::string(packet);
    }
}

}  // namespace

void TakeMetadata(VipsImage* loaded, Image& image) {
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
        } else if (name == VIPS_META_XMP_NAME) {
            const std::lock_guard lock(gExiv2);
            const std::string kept =
                TrueXmp(std::string(Blob(loaded, *field)), image.width, image.height);
            if (!kept.empty()) SetBlob(to, *field, kept);
        } else if ((name == VIPS_META_IPTC_NAME || name == VIPS_META_PHOTOSHOP_NAME) &&
                   image.iptc.empty()) {
            const std::lock_guard lock(gExiv2);
            image.iptc = IptcRecords(Blob(loaded, *field));
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
    if (image.iptc.empty()) return;
    const std::lock_guard lock(gExiv2);
    const auto resources = [&] {
        const Exiv2::DataBuf block =
            Exiv2::Photoshop::setIptcIrb(nullptr, 0, DecodeIptc(image.iptc));
        return std::string(reinterpret_cast<const char*>(block.pData_), block.size_);
    };
    switch (format) {
        case ImageFormat::Jpeg:
            SetBlob(out, VIPS_META_IPTC_NAME, std::string(kPhotoshop) + resources());
            break;
        case ImageFormat::Tiff:
            // As Photoshop resources, which libvips writes whole, where TIFF's IPTC tag loses
            // three quarters of them (libvips counts it in 4-byte words, libtiff in bytes).
            SetBlob(out, VIPS_META_PHOTOSHOP_NAME, resources());
            break;
        case ImageFormat::Png:
        case ImageFormat::Webp: {
            const std::string_view packet = vips_image_get_typeof(out, VIPS_META_XMP_NAME) != 0
                                                ? Blob(out, VIPS_META_XMP_NAME)
                                                : std::string_view();
            SetBlob(out, VIPS_META_XMP_NAME, XmpWithIptc(packet, image.iptc));
            break;
        }
        case ImageFormat::Svg:
            break;
    }
}

void StopMetadataLibrary() {
    const std::lock_guard lock(gExiv2);
    Exiv2::XmpParser::terminate();
}
