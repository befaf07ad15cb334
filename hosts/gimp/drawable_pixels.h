// Moving a drawable's pixels through the embedding API: the whole run on the selection's bounding
// box for the procedure, and one area for the dialog's preview.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "embed/stipple_buffer.h"
#include "values.h"

struct Area {
    gint x = 0;
    gint y = 0;
    gint width = 0;
    gint height = 0;
};

// The 8-bit colour format the filter reads the drawable in: R'G'B' or R'G'B'A in the drawable's
// own colour space, so babl converts grey and deeper drawables and leaves 8-bit RGB as it is.
const Babl* FilterFormat(gint32 drawable);

// `area` (not empty) of the drawable, in FilterFormat; nothing if the drawable went away, as when
// the user closes its image, while it was read.
std::vector<std::uint8_t> ReadArea(gint32 drawable, const Area& area);

// A fully transparent pixel's colour is not part of the picture, but a shape that samples it would
// paint it where it shows: in R'G'B'A pixels, each such pixel takes the colour of its nearest
// visible one instead. An opaque picture is left as it is.
void FillHiddenColours(std::vector<std::uint8_t>& rgba, const Area& area);

// Filters pixels ReadArea read, in place, as if they were a whole image, on as many threads as
// GIMP's own "num-processors" setting asks for.
StippleResult FilterPixels(std::vector<std::uint8_t>& pixels, gint32 drawable, const Area& area,
                           const PlugInValues& values, const StippleProgress& progress = {});

// Filters the selection's bounding box through the shadow buffer, which applies the selection's
// mask, in one undo step. Empty when done (or when the drawable went away during the
// run); otherwise why not.
std::string FilterDrawable(gint32 drawable, const PlugInValues& values);
