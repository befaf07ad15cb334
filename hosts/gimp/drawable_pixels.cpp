#include "drawable_pixels.h"

#include <algorithm>
#include <new>

#include "i18n.h"

const Babl* FilterFormat(gint32 drawable) {
    return babl_format_with_space(gimp_drawable_has_alpha(drawable) ? "R'G'B'A u8" : "R'G'B' u8",
                                  gimp_drawable_get_format(drawable));
}

std::vector<std::uint8_t> ReadArea(gint32 drawable, const Area& area) {
    const Babl* format = FilterFormat(drawable);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(area.width) * area.height *
                                     babl_format_get_bytes_per_pixel(format));
    // In bands, asking before each whether the drawable is still there: GIMP ends a plug-in that
    // asks for the pixels of an image the user has closed, with an error, where a run that finds
    // the drawable gone between bands can end quietly.
    constexpr gint kBandRows = 256;
    const std::size_t rowBytes = pixels.size() / area.height;
    GeglBuffer* source = gimp_drawable_get_buffer(drawable);
    for (gint top = 0; top < area.height; top += kBandRows) {
        if (!gimp_item_is_valid(drawable)) {
            pixels.clear();
            break;
        }
        const GeglRectangle band{area.x, area.y + top, area.width,
                                 std::min(kBandRows, area.height - top)};
        gegl_buffer_get(source, &band, 1.0, format, pixels.data() + top * rowBytes,
                        GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    }
    g_object_unref(source);
    return pixels;
}

namespace {

// The threads GIMP itself filters with (Preferences > System Resources), which the user sets for
// every filter at once; the machine's processors where GIMP has no answer.
unsigned RunThreads() {
    static const unsigned threads = [] {
        gchar* setting = gimp_gimprc_query("num-processors");
        const gint64 value = setting != nullptr ? g_ascii_strtoll(setting, nullptr, 10) : 0;
        g_free(setting);
        // GIMP's own ceiling for the setting is 64.
        return value > 0 ? static_cast<unsigned>(std::min<gint64>(value, 64))
                         : static_cast<unsigned>(g_get_num_processors());
    }();
    return threads;
}

}  // namespace

// Outwards from the visible pixels, four neighbours at a time.
void FillHiddenColours(std::vector<std::uint8_t>& rgba, const Area& area) {
    const std::size_t count = static_cast<std::size_t>(area.width) * area.height;
    std::vector<std::size_t> queue;
    std::vector<bool> known(count);
    for (std::size_t pixel = 0; pixel < count; ++pixel) {
        if (rgba[pixel * 4 + 3] != 0) {
            known[pixel] = true;
            queue.push_back(pixel);
        }
    }
    if (queue.empty() || queue.size() == count) return;
    const std::size_t width = static_cast<std::size_t>(area.width);
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::size_t from = queue[head];
        const std::size_t x = from % width;
        const std::size_t neighbours[] = {x > 0 ? from - 1 : count,
                                          x + 1 < width ? from + 1 : count,
                                          from >= width ? from - width : count, from + width};
        for (const std::size_t to : neighbours) {
            if (to >= count || known[to]) continue;
            known[to] = true;
            std::copy_n(rgba.begin() + from * 4, 3, rgba.begin() + to * 4);
            queue.push_back(to);
        }
    }
}

StippleResult FilterPixels(std::vector<std::uint8_t>& pixels, gint32 drawable, const Area& area,
                           const PlugInValues& values, const StippleProgress& progress) {
    const bool alpha = gimp_drawable_has_alpha(drawable);
    const PixelBuffer buffer{.pixels = pixels.data(),
                             .width = area.width,
                             .height = area.height,
                             .layout = alpha ? PixelLayout::Rgba : PixelLayout::Rgb};
    return StippleBuffer(buffer, ToSettings(values), static_cast<std::uint32_t>(values.seed),
                         progress, kDialogLimits, RunThreads());
}

namespace {

// Writes back only the pixels the shapes changed, converted to the drawable's own format; every
// other pixel keeps its value at the drawable's precision, as 8 bits could not carry it.
void WriteChanged(gint32 drawable, const Area& area, const std::vector<std::uint8_t>& before,
                  const std::vector<std::uint8_t>& after) {
    const Babl* filterFormat = FilterFormat(drawable);
    const Babl* ownFormat = gimp_drawable_get_format(drawable);
    const std::size_t filterBytes = babl_format_get_bytes_per_pixel(filterFormat);
    const std::size_t ownBytes = babl_format_get_bytes_per_pixel(ownFormat);
    const GeglRectangle rectangle{area.x, area.y, area.width, area.height};
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    // An opaque 8-bit RGB drawable is in the filter's own format: a pixel left alone already has
    // its value, and the result goes back as it is.
    if (ownFormat == filterFormat && !gimp_drawable_has_alpha(drawable)) {
        gegl_buffer_set(shadow, &rectangle, 0, ownFormat, after.data(), GEGL_AUTO_ROWSTRIDE);
        gegl_buffer_flush(shadow);
        g_object_unref(shadow);
        return;
    }
    const std::size_t width = static_cast<std::size_t>(area.width);
    std::vector<std::uint8_t> own(width * area.height * ownBytes);
    GeglBuffer* source = gimp_drawable_get_buffer(drawable);
    gegl_buffer_get(source, &rectangle, 1.0, ownFormat, own.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
    g_object_unref(source);
    const Babl* fish = babl_fish(filterFormat, ownFormat);
    std::vector<std::uint8_t> row(width * ownBytes);
    for (std::size_t y = 0; y < static_cast<std::size_t>(area.height); ++y) {
        const std::size_t first = y * width;
        babl_process(fish, after.data() + first * filterBytes, row.data(), area.width);
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t at = (first + x) * filterBytes;
            if (std::equal(after.begin() + at, after.begin() + at + filterBytes,
                           before.begin() + at)) {
                continue;
            }
            std::copy_n(row.begin() + x * ownBytes, ownBytes, own.begin() + (first + x) * ownBytes);
        }
    }
    gegl_buffer_set(shadow, &rectangle, 0, ownFormat, own.data(), GEGL_AUTO_ROWSTRIDE);
    gegl_buffer_flush(shadow);
    g_object_unref(shadow);
}

}  // namespace

std::string FilterDrawable(gint32 drawable, const PlugInValues& values) {
    Area area;
    if (!gimp_drawable_mask_intersect(drawable, &area.x, &area.y, &area.width, &area.height)) {
        return {};  // the selection misses this layer: nothing to do
    }
    gimp_progress_init(_("Stippling"));
    int shown = -1;
    const auto progress = [&shown](int percent) {
        // The run reports after every batch of shapes; GIMP needs to hear only each new percent.
        if (percent == shown) return;
        shown = percent;
        gimp_progress_update(percent / 100.0);
    };
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> before;
    // Reading the area may run out of memory before the filter does; the words are the same.
    StippleResult result{StippleStatus::OutOfMemory, {}, area.width, area.height};
    try {
        pixels = ReadArea(drawable, area);
        if (pixels.empty()) return {};  // the image was closed while it was read
        if (gimp_drawable_has_alpha(drawable)) FillHiddenColours(pixels, area);
        before = pixels;
        result = FilterPixels(pixels, drawable, area, values, progress);
    } catch (const std::bad_alloc&) {
    }
    if (!result.done()) return DescribeResult(result, TranslatedResultWords());
    // The image may have been closed during the run: then there is nothing left to change.
    if (!gimp_item_is_valid(drawable)) return {};
    // Nothing joins the undo history until the one merge below, which records the whole run as a
    // single step by itself: a run cancelled from the status bar (its Cancel stays live until the
    // plug-in ends, through this writing) cannot leave a half-made step or an open undo group.
    try {
        WriteChanged(drawable, area, before, pixels);
    } catch (const std::bad_alloc&) {
        return DescribeResult({StippleStatus::OutOfMemory, {}, area.width, area.height},
                              TranslatedResultWords());
    }
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, area.x, area.y, area.width, area.height);
    return {};
}
