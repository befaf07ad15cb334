// The dialog's preview: the drawable as a run would leave it, over the part in view, at the zoom
// the user picks. It fills whatever room the dialog gives it and starts on the selection.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "drawable_pixels.h"

// Filters `pixels` of `area` (as ReadArea reads them) in place as the run would filter them as an
// image of its own; false when it could not.
using PreviewFilter = std::function<bool(std::vector<std::uint8_t>& pixels, const Area& area)>;

struct Preview;

// The least room the preview's picture takes in the dialog.
constexpr Area kPreviewLeast{.width = 240, .height = 180};

// A preview of `drawable`, kept alive by the widget it returns; `*preview` is its handle for
// InvalidatePreview as long as that widget lives.
GtkWidget* NewPreview(gint32 drawable, PreviewFilter filter, Preview** preview);

// Renders again a moment later: quick changes in a row make one render.
void InvalidatePreview(Preview* preview);
