// XMP and IPTC through Exiv2, in a module of its own (moxel-xmp-iptc.so) that the tool opens only
// when a picture carries either: Exiv2 costs every run that loads it 2 MB and its start-up, and
// most pictures carry neither. Both sides are built together, so C++ types cross freely.
#pragma once

#include <string>
#include <string_view>

struct XmpIptc {
    // The XMP packet with what it says of the pixels made true: upright, sRGB where it names a
    // colour space, the picture's size where it gives one; the packet as it was when it says
    // none of that. False when it does not read.
    bool (*trueXmp)(const std::string& packet, int width, int height, std::string& out);
    // The IPTC records (IIM) out of Photoshop resources (JPEG's APP13, with or without its
    // "Photoshop 3.0" header; TIFF's tag) or as TIFF's own IPTC tag holds them. False unless
    // they read.
    bool (*iptcRecords)(std::string_view block, std::string& records);
    // The records as Photoshop resources, without the APP13 header.
    std::string (*photoshopResources)(const std::string& records);
    // The packet (perhaps empty) with the records' captions, credits and keywords added as IPTC
    // Core properties where it does not already hold them; the packet as it was if it does not
    // read.
    std::string (*xmpWithIptc)(std::string_view packet, const std::string& records);
    // Lets Exiv2's XMP toolkit go.
    void (*stop)();
};

// The module's one entry point, found by name.
extern "C" const XmpIptc* MoxelXmpIptc();
