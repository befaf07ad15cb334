// The stipple as vectors: the run's own shapes, each where and as the run draws it, as an SVG 1.1
// document, for printing at any size, editing, cutting and plotting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "embed/stipple_buffer.h"

struct SvgOptions {
    // Under the shapes: the picture (when the run paints over it), a white rectangle (when it
    // paints on white), or, without a background, nothing, for plotters and cutters.
    bool background = true;
    // The source picture as an image reference (a data: URI, or a file name), for the first.
    std::string_view pictureHref;
};

// The document for the run with `settings` and `seed` over `source`, which is only read: one
// element per shape in drawing order, the polygons' vertices and the circles' boxes the
// rasteriser's, filled with the shape's colour (the star by the nonzero rule, as the run fills
// it), no stroke. `width`, `height` and `viewBox` are the picture's, in pixels.
StippleResult StippleSvg(const PixelBuffer& source, const StippleSettings& settings,
                         std::uint32_t seed, const SvgOptions& options, std::string& svg,
                         const SettingsLimits& limits = kDialogLimits);
