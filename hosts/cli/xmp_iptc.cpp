#include "xmp_iptc.h"

#include <exiv2/exiv2.hpp>
#include <mutex>

namespace {

// Exiv2's XMP toolkit keeps global state and is not safe on several threads at once; batch jobs
// take turns through it (a few kilobytes each, so nobody waits long).
std::mutex gExiv2;

constexpr std::string_view kPhotoshop{"Photoshop 3.0\0", 14};

// Without the packet wrapper, which the formats do not need, and its 2 KB of padding for editing
// in place, which nobody does to a stipple.
bool Encode(const Exiv2::XmpData& xmp, std::string& packet) {
    return Exiv2::XmpParser::encode(
               packet, xmp,
               Exiv2::XmpParser::useCompactFormat | Exiv2::XmpParser::omitPacketWrapper) == 0;
}

bool TrueXmp(const std::string& packet, int width, int height, std::string& out) {
    const std::lock_guard lock(gExiv2);
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, packet) != 0) return false;
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
        if (!changed) {
            out = packet;
            return true;
        }
        return Encode(xmp, out);
    } catch (const Exiv2::AnyError&) {
        return false;
    }
}

bool IptcRecords(std::string_view block, std::string& records) {
    const std::lock_guard lock(gExiv2);
    if (block.starts_with(kPhotoshop)) block.remove_prefix(kPhotoshop.size());
    if (block.starts_with("8BIM")) {
        const Exiv2::byte* record = nullptr;
        std::uint32_t header = 0, size = 0;
        if (Exiv2::Photoshop::locateIptcIrb(reinterpret_cast<const Exiv2::byte*>(block.data()),
                                            static_cast<long>(block.size()), &record, &header,
                                            &size) != 0) {
            return false;
        }
        block = {reinterpret_cast<const char*>(record) + header, size};
    }
    try {
        Exiv2::IptcData iptc;
        if (Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(block.data()),
                                      static_cast<std::uint32_t>(block.size())) != 0 ||
            iptc.empty()) {
            return false;
        }
    } catch (const Exiv2::AnyError&) {
        return false;
    }
    records = block;
    return true;
}

Exiv2::IptcData DecodeIptc(const std::string& records) {
    Exiv2::IptcData iptc;
    Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(records.data()),
                              static_cast<std::uint32_t>(records.size()));
    return iptc;
}

std::string XmpWithIptc(std::string_view packet, const std::string& records) {
    const std::lock_guard lock(gExiv2);
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

std::string PhotoshopResources(const std::string& records) {
    const std::lock_guard lock(gExiv2);
    const Exiv2::DataBuf block = Exiv2::Photoshop::setIptcIrb(nullptr, 0, DecodeIptc(records));
    return std::string(reinterpret_cast<const char*>(block.pData_), block.size_);
}

void Stop() {
    const std::lock_guard lock(gExiv2);
    Exiv2::XmpParser::terminate();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const XmpIptc* MoxelXmpIptc() {
    static const XmpIptc functions = [] {
        // Its warnings about odd files are not ours to print: what does not read is left out.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        return XmpIptc{&TrueXmp, &IptcRecords, &PhotoshopResources, &XmpWithIptc, &Stop};
    }();
    return &functions;
}
