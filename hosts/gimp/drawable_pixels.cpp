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
    GeglBuffer* source = gimp_drawable_get_buffer(drawable);
    const GeglRectangle rectangle{area.x, area.y, area.width, area.height};
    gegl_buffer_get(source, &rectangle, 1.0, format, pixels.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
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

StippleResult FilterPixels(std::vector<std::uint8_t>& pixels, gint32 drawable, const Area& area,
                           const PlugInValues& values, const StippleProgress& progress) {
    const PixelBuffer buffer{
        .pixels = pixels.data(),
        .width = area.width,
        .height = area.height,
        .layout = gimp_drawable_has_alpha(drawable) ? PixelLayout::Rgba : PixelLayout::Rgb};
    return StippleBuffer(buffer, ToSettings(values), static_cast<std::uint32_t>(values.seed),
                         progress, kDialogLimits, RunThreads());
}

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
    // Reading the area may run out of memory before the filter does; the words are the same.
    StippleResult result{StippleStatus::OutOfMemory, {}, area.width, area.height};
    try {
        pixels = ReadArea(drawable, area);
        result = FilterPixels(pixels, drawable, area, values, progress);
    } catch (const std::bad_alloc&) {
    }
    if (!result.done()) return DescribeResult(result, TranslatedResultWords());
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    const GeglRectangle rectangle{area.x, area.y, area.width, area.height};
    gegl_buffer_set(shadow, &rectangle, 0, FilterFormat(drawable), pixels.data(),
                    GEGL_AUTO_ROWSTRIDE);
    gegl_buffer_flush(shadow);
    g_object_unref(shadow);
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, area.x, area.y, area.width, area.height);
    return {};
}
