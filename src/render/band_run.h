// The run for hosts that hold the whole image in memory, on as many threads as they give it.
//
// A shape's colour is read from the source, never from the canvas, so the only order that
// matters is which shape is drawn over which. The whole list of shapes is drawn from the
// generator first, in order; then each band of rows is drawn by one thread, every shape that
// touches the band in list order, clipped to the band. The pixels are the sequential run's.
#pragma once

#include <cstdint>

#include "render/filter_run.h"
#include "render/host.h"
#include "render/run_memory.h"
#include "settings/settings.h"

// One shape of a run: its centre and size in drawing coordinates, and its colour (COLORREF).
struct PlacedShape {
    std::int32_t x;
    std::int32_t y;
    std::int32_t size;
    std::uint32_t colour;
};

using ShapeList = RunArray<PlacedShape>;

// The run's shapes in drawing order, with their colours read through the host (readRow, for
// single pixels, from up to `threads` threads at once). Drawing row d is host row
// height - 1 - d, as on the plug-in's bottom-up canvas.
ShapeList MakeShapeList(const StippleSettings& settings, const ImageSize& size,
                        const StippleHost& host, std::uint32_t seed, unsigned threads = 1);

// The whole run, its pixels the same as RunStipple's, on `threads` threads (1 or more). The host's
// readRow is called from every thread at once for single pixels, all before any row is drawn;
// then each band's rows are drawn by one thread, from the top down, on the host's own rows where
// it lends them, else read and written through readRow and writeRow. Progress only on the
// caller's thread; rowsFinal on any.
RunStatus RunStippleInBands(const StippleSettings& settings, const ImageSize& size,
                            const StippleHost& host, std::uint32_t seed, unsigned threads);
