// The input's EXIF, XMP and IPTC, carried to the output so that they still tell the truth about
// it: the pixels are upright, 8-bit sRGB, and no longer the photo a thumbnail was made of.
#pragma once

#include <string>
#include <vips/vips8>

#include "image_io.h"

// Takes what a loaded image holds into `image` (its metadata fields and IPTC records): EXIF
// without the thumbnail, the colour space sRGB where one is named, no interoperability index
// (R03 says Adobe RGB), orientation upright; XMP the same, with the picture's size; IPTC as its
// records, out of the Photoshop block a JPEG keeps them in. A block that does not read is left
// out rather than carried unchecked; so are XMP and IPTC, with a warning naming `file`, if Exiv2's
// module cannot be opened.
void TakeMetadata(VipsImage* loaded, Image& image, const std::string& file);

// Puts the metadata on an image about to be saved as `format`: EXIF and XMP as taken; IPTC as
// JPEG keeps it (a Photoshop block) or TIFF (the records), and for PNG and WebP, which have no
// place for it, as XMP's IPTC properties the XMP does not already hold.
void GiveMetadata(const Image& image, ImageFormat format, VipsImage* out);

// The XMP library's global state, at the end of main.
void StopMetadataLibrary();
