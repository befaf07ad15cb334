#include "preview.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "i18n.h"

namespace {

// How long the preview waits for the next change before it renders.
constexpr guint kSettleMilliseconds = 150;
// GIMP's own previews go no further in.
constexpr double kDeepestZoom = 8.0;

}  // namespace

struct Preview {
    gint32 drawable = -1;
    PreviewFilter filter;
    Area image;              // the whole drawable
    Area bounds;             // what a run filters: the selection's bounding box; empty when none
    bool selection = false;  // the image has a selection, whose mask the preview shows
    GtkWidget* area = nullptr;
    GtkAdjustment* horizontal = nullptr;  // in the drawable's pixels: the view's left edge
    GtkAdjustment* vertical = nullptr;
    GimpZoomModel* zoom = nullptr;  // display pixels per drawable pixel
    GtkWidget* zoomLabel = nullptr;
    GtkWidget* update = nullptr;  // off: the drawable as it is, for comparison or to save time
    int width = 0;                // the area's size on screen
    int height = 0;
    bool placed = false;  // zoomed and centred for the first time, once the area has a size
    guint timer = 0;
    // The drawable's pixels and the selection's mask in view, read once for the view: moving a
    // setting filters again without asking GIMP for them again.
    Area view{-1, -1, 0, 0};
    std::vector<std::uint8_t> original;
    std::vector<std::uint8_t> mask;
    bool dragging = false;
    double dragX = 0;
    double dragY = 0;
    double dragLeft = 0;
    double dragTop = 0;
};

namespace {

bool SameArea(const Area& a, const Area& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// The selection's mask over `view` of the drawable, a byte a pixel.
std::vector<std::uint8_t> SelectionMask(gint32 drawable, const Area& view) {
    gint offsetX = 0;
    gint offsetY = 0;
    gimp_drawable_offsets(drawable, &offsetX, &offsetY);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(view.width) * view.height);
    GeglBuffer* selection =
        gimp_drawable_get_buffer(gimp_image_get_selection(gimp_item_get_image(drawable)));
    const GeglRectangle rectangle{view.x + offsetX, view.y + offsetY, view.width, view.height};
    gegl_buffer_get(selection, &rectangle, 1.0, babl_format("Y u8"), mask.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(selection);
    return mask;
}

// Copies the rows of `part` between a buffer of `part` and one of the larger `whole`.
void CopyPart(const std::uint8_t* from, const Area& fromArea, std::uint8_t* to, const Area& toArea,
              const Area& part, std::size_t bytes) {
    for (int row = 0; row < part.height; ++row) {
        const std::size_t fromAt =
            ((part.y - fromArea.y + row) * static_cast<std::size_t>(fromArea.width) + part.x -
             fromArea.x) *
            bytes;
        const std::size_t toAt =
            ((part.y - toArea.y + row) * static_cast<std::size_t>(toArea.width) + part.x -
             toArea.x) *
            bytes;
        std::copy_n(from + fromAt, part.width * bytes, to + toAt);
    }
}

// The image pixels under display pixel `shown`, [first, end): zoomed out, all the pixels it
// covers; zoomed in, the one it lies on.
std::pair<int, int> Under(int shown, double zoom, int limit) {
    const int first = std::min(limit - 1, static_cast<int>(shown / zoom));
    return {first, std::clamp(static_cast<int>((shown + 1) / zoom), first + 1, limit)};
}

// `pixels` (`width` x `height`, `bytes` each) at `zoom`, as `shownWidth` x `shownHeight` display
// pixels, each the mean of the pixels under it: a zoomed-out view shows the shapes' colours mixed
// as the eye mixes them, not a sample that drops most shapes.
std::vector<std::uint8_t> Scaled(const std::vector<std::uint8_t>& pixels, int width, int height,
                                 std::size_t bytes, double zoom, int shownWidth, int shownHeight) {
    if (shownWidth == width && shownHeight == height) return pixels;
    std::vector<std::uint8_t> shown(static_cast<std::size_t>(shownWidth) * shownHeight * bytes);
    std::vector<unsigned> sum(bytes);
    auto out = shown.begin();
    for (int y = 0; y < shownHeight; ++y) {
        const auto [top, bottom] = Under(y, zoom, height);
        for (int x = 0; x < shownWidth; ++x) {
            const auto [left, right] = Under(x, zoom, width);
            std::fill(sum.begin(), sum.end(), 0u);
            for (int row = top; row < bottom; ++row) {
                auto in = pixels.begin() + (static_cast<std::size_t>(row) * width + left) * bytes;
                for (int column = left; column < right; ++column) {
                    for (std::size_t byte = 0; byte < bytes; ++byte) sum[byte] += *in++;
                }
            }
            const unsigned count = static_cast<unsigned>((bottom - top) * (right - left));
            for (std::size_t byte = 0; byte < bytes; ++byte)
                *out++ = (sum[byte] + count / 2) / count;
        }
    }
    return shown;
}

double Centre(GtkAdjustment* axis) {
    return gtk_adjustment_get_value(axis) + gtk_adjustment_get_page_size(axis) / 2;
}

// One scrollbar's range for a view `page` drawable pixels long, centred on `centre` as far as
// the drawable allows.
void SetAxis(GtkAdjustment* axis, int size, double page, double centre) {
    page = std::min<double>(size, page);
    const double value = std::clamp(centre - page / 2, 0.0, size - page);
    gtk_adjustment_configure(axis, value, 0, size, std::max(1.0, page / 10), page * 0.9, page);
}

void FitView(Preview* preview, double centreX, double centreY) {
    const double zoom = gimp_zoom_model_get_factor(preview->zoom);
    SetAxis(preview->horizontal, preview->image.width, preview->width / zoom, centreX);
    SetAxis(preview->vertical, preview->image.height, preview->height / zoom, centreY);
}

// The part of the drawable in view filtered as a run would, with the selection's mask over it,
// at the zoom. The run's area is filtered at full size, whatever the zoom: shapes have sizes in
// the drawable's pixels, and a shrunken picture would give other shapes.
void Draw(Preview* preview) {
    const double zoom = gimp_zoom_model_get_factor(preview->zoom);
    Area view{.x = static_cast<gint>(std::lround(gtk_adjustment_get_value(preview->horizontal))),
              .y = static_cast<gint>(std::lround(gtk_adjustment_get_value(preview->vertical)))};
    view.width = std::min(preview->image.width - view.x,
                          static_cast<gint>(std::ceil(preview->width / zoom)));
    view.height = std::min(preview->image.height - view.y,
                           static_cast<gint>(std::ceil(preview->height / zoom)));
    if (view.width <= 0 || view.height <= 0) return;
    if (!SameArea(view, preview->view)) {
        preview->view = {};
        preview->original = ReadArea(preview->drawable, view);
        if (preview->original.empty()) return;  // its image was closed
        preview->mask = preview->selection ? SelectionMask(preview->drawable, view)
                                           : std::vector<std::uint8_t>{};
        preview->view = view;
    }
    const std::size_t bytes =
        preview->original.size() / (static_cast<std::size_t>(view.width) * view.height);
    std::vector<std::uint8_t> result = preview->original;
    Area inner;
    if (preview->bounds.width > 0 &&
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(preview->update)) &&
        gimp_rectangle_intersect(view.x, view.y, view.width, view.height, preview->bounds.x,
                                 preview->bounds.y, preview->bounds.width, preview->bounds.height,
                                 &inner.x, &inner.y, &inner.width, &inner.height)) {
        std::vector<std::uint8_t> filtered(static_cast<std::size_t>(inner.width) * inner.height *
                                           bytes);
        CopyPart(preview->original.data(), view, filtered.data(), inner, inner, bytes);
        if (!preview->filter(filtered, inner)) return;
        CopyPart(filtered.data(), inner, result.data(), view, inner, bytes);
    }

    const int shownWidth =
        std::min(preview->width, static_cast<int>(std::lround(view.width * zoom)));
    const int shownHeight =
        std::min(preview->height, static_cast<int>(std::lround(view.height * zoom)));
    // A drawable smaller than the area at this zoom sits in its middle.
    const int left = (preview->width - shownWidth) / 2;
    const int top = (preview->height - shownHeight) / 2;
    GimpPreviewArea* area = GIMP_PREVIEW_AREA(preview->area);
    if (left > 0 || top > 0) {
        const GdkColor& background = gtk_widget_get_style(preview->area)->bg[GTK_STATE_NORMAL];
        gimp_preview_area_fill(area, 0, 0, preview->width, preview->height, background.red >> 8,
                               background.green >> 8, background.blue >> 8);
    }
    const GimpImageType type = bytes == 4 ? GIMP_RGBA_IMAGE : GIMP_RGB_IMAGE;
    const int rowStride = shownWidth * static_cast<int>(bytes);
    const std::vector<std::uint8_t> shown =
        Scaled(result, view.width, view.height, bytes, zoom, shownWidth, shownHeight);
    if (preview->mask.empty()) {
        gimp_preview_area_draw(area, left, top, shownWidth, shownHeight, type, shown.data(),
                               rowStride);
        return;
    }
    // The selection's mask blends the result in, as the run's shadow buffer will.
    const std::vector<std::uint8_t> before =
        Scaled(preview->original, view.width, view.height, bytes, zoom, shownWidth, shownHeight);
    const std::vector<std::uint8_t> mask =
        Scaled(preview->mask, view.width, view.height, 1, zoom, shownWidth, shownHeight);
    gimp_preview_area_mask(area, left, top, shownWidth, shownHeight, type, before.data(), rowStride,
                           shown.data(), rowStride, mask.data(), shownWidth);
}

gboolean Render(gpointer data) {
    auto* preview = static_cast<Preview*>(data);
    preview->timer = 0;
    // The dialog stays up without a preview rather than end the plug-in.
    try {
        Draw(preview);
    } catch (const std::bad_alloc&) {
        preview->view = {-1, -1, 0, 0};
    }
    return FALSE;
}

void ShowZoom(Preview* preview) {
    gchar* text =
        g_strdup_printf("%g%%", std::round(gimp_zoom_model_get_factor(preview->zoom) * 1000) / 10);
    gtk_label_set_text(GTK_LABEL(preview->zoomLabel), text);
    g_free(text);
}

void Zoomed(GimpZoomModel*, gdouble, gdouble, Preview* preview) {
    FitView(preview, Centre(preview->horizontal), Centre(preview->vertical));
    ShowZoom(preview);
    InvalidatePreview(preview);
}

// The area's new size: the zoom can go as far out as showing the whole drawable; the first time,
// the view starts on the selection, zoomed out as far as it takes to show all of it.
void Allocated(GtkWidget*, GtkAllocation* allocation, Preview* preview) {
    if (allocation->width == preview->width && allocation->height == preview->height) return;
    double centreX = Centre(preview->horizontal);
    double centreY = Centre(preview->vertical);
    preview->width = allocation->width;
    preview->height = allocation->height;
    const double whole = std::min(static_cast<double>(preview->width) / preview->image.width,
                                  static_cast<double>(preview->height) / preview->image.height);
    gimp_zoom_model_set_range(preview->zoom, std::min(1.0, whole), kDeepestZoom);
    if (!preview->placed) {
        preview->placed = true;
        const Area& start = preview->bounds.width > 0 ? preview->bounds : preview->image;
        centreX = start.x + start.width / 2.0;
        centreY = start.y + start.height / 2.0;
        // A little room around the selection shows where it ends.
        const double fit =
            std::min(preview->width / (start.width * 1.2), preview->height / (start.height * 1.2));
        gimp_zoom_model_zoom(preview->zoom, GIMP_ZOOM_TO,
                             preview->selection ? std::min(1.0, fit) : 1.0);
    }
    FitView(preview, centreX, centreY);
    ShowZoom(preview);
    InvalidatePreview(preview);
}

// Dragging with the first button moves the view; Ctrl and the wheel zoom, as in GIMP's previews.
gboolean Pressed(GtkWidget*, GdkEventButton* event, Preview* preview) {
    if (event->button != 1) return FALSE;
    preview->dragging = true;
    preview->dragX = event->x;
    preview->dragY = event->y;
    preview->dragLeft = gtk_adjustment_get_value(preview->horizontal);
    preview->dragTop = gtk_adjustment_get_value(preview->vertical);
    return TRUE;
}

gboolean Released(GtkWidget*, GdkEventButton* event, Preview* preview) {
    if (event->button == 1) preview->dragging = false;
    return FALSE;
}

void MoveAxis(GtkAdjustment* axis, double value) {
    gtk_adjustment_set_value(
        axis, std::clamp(value, 0.0,
                         gtk_adjustment_get_upper(axis) - gtk_adjustment_get_page_size(axis)));
}

gboolean Moved(GtkWidget*, GdkEventMotion* event, Preview* preview) {
    if (!preview->dragging) return FALSE;
    const double zoom = gimp_zoom_model_get_factor(preview->zoom);
    MoveAxis(preview->horizontal, preview->dragLeft - (event->x - preview->dragX) / zoom);
    MoveAxis(preview->vertical, preview->dragTop - (event->y - preview->dragY) / zoom);
    return TRUE;
}

gboolean Scrolled(GtkWidget*, GdkEventScroll* event, Preview* preview) {
    if ((event->state & GDK_CONTROL_MASK) == 0) return FALSE;
    if (event->direction == GDK_SCROLL_UP) gimp_zoom_model_zoom(preview->zoom, GIMP_ZOOM_IN, 0);
    if (event->direction == GDK_SCROLL_DOWN) gimp_zoom_model_zoom(preview->zoom, GIMP_ZOOM_OUT, 0);
    return TRUE;
}

void ViewMoved(GtkAdjustment*, Preview* preview) { InvalidatePreview(preview); }

void UpdateToggled(GtkToggleButton*, Preview* preview) { InvalidatePreview(preview); }

void Destroyed(GtkWidget*, Preview* preview) {
    if (preview->timer != 0) g_source_remove(preview->timer);
    g_object_unref(preview->zoom);
    delete preview;
}

}  // namespace

void InvalidatePreview(Preview* preview) {
    if (preview->timer != 0) g_source_remove(preview->timer);
    preview->timer = g_timeout_add(kSettleMilliseconds, Render, preview);
}

GtkWidget* NewPreview(gint32 drawable, PreviewFilter filter, Preview** handle) {
    auto* preview = new Preview;
    *handle = preview;
    preview->drawable = drawable;
    preview->filter = std::move(filter);
    preview->image = {0, 0, gimp_drawable_width(drawable), gimp_drawable_height(drawable)};
    Area& bounds = preview->bounds;
    if (!gimp_drawable_mask_intersect(drawable, &bounds.x, &bounds.y, &bounds.width,
                                      &bounds.height)) {
        bounds = {};
    }
    preview->selection = !gimp_selection_is_empty(gimp_item_get_image(drawable));
    preview->zoom = gimp_zoom_model_new();

    GtkWidget* box = gtk_vbox_new(FALSE, 6);
    g_signal_connect(box, "destroy", G_CALLBACK(Destroyed), preview);

    GtkWidget* table = gtk_table_new(2, 2, FALSE);
    gtk_box_pack_start(GTK_BOX(box), table, TRUE, TRUE, 0);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    gtk_table_attach(GTK_TABLE(table), frame, 0, 1, 0, 1, GtkAttachOptions(GTK_EXPAND | GTK_FILL),
                     GtkAttachOptions(GTK_EXPAND | GTK_FILL), 0, 0);
    preview->area = gimp_preview_area_new();
    // Room for a few of the largest shapes; the dialog's size gives it more.
    gtk_widget_set_size_request(preview->area, kPreviewLeast.width, kPreviewLeast.height);
    gtk_widget_add_events(preview->area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                             GDK_BUTTON1_MOTION_MASK | GDK_SCROLL_MASK);
    gtk_container_add(GTK_CONTAINER(frame), preview->area);
    g_signal_connect_after(preview->area, "size-allocate", G_CALLBACK(Allocated), preview);
    g_signal_connect(preview->area, "button-press-event", G_CALLBACK(Pressed), preview);
    g_signal_connect(preview->area, "button-release-event", G_CALLBACK(Released), preview);
    g_signal_connect(preview->area, "motion-notify-event", G_CALLBACK(Moved), preview);
    g_signal_connect(preview->area, "scroll-event", G_CALLBACK(Scrolled), preview);

    preview->horizontal = GTK_ADJUSTMENT(gtk_adjustment_new(0, 0, 1, 1, 1, 1));
    preview->vertical = GTK_ADJUSTMENT(gtk_adjustment_new(0, 0, 1, 1, 1, 1));
    g_signal_connect(preview->horizontal, "value-changed", G_CALLBACK(ViewMoved), preview);
    g_signal_connect(preview->vertical, "value-changed", G_CALLBACK(ViewMoved), preview);
    gtk_table_attach(GTK_TABLE(table), gtk_vscrollbar_new(preview->vertical), 1, 2, 0, 1, GTK_FILL,
                     GtkAttachOptions(GTK_EXPAND | GTK_FILL), 0, 0);
    gtk_table_attach(GTK_TABLE(table), gtk_hscrollbar_new(preview->horizontal), 0, 1, 1, 2,
                     GtkAttachOptions(GTK_EXPAND | GTK_FILL), GTK_FILL, 0, 0);

    GtkWidget* controls = gtk_hbox_new(FALSE, 2);
    gtk_box_pack_start(GTK_BOX(box), controls, FALSE, FALSE, 0);
    preview->update = gtk_check_button_new_with_mnemonic(_("_Preview"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(preview->update), TRUE);
    g_signal_connect(preview->update, "toggled", G_CALLBACK(UpdateToggled), preview);
    gtk_box_pack_start(GTK_BOX(controls), preview->update, FALSE, FALSE, 0);
    preview->zoomLabel = gtk_label_new(nullptr);
    gtk_box_pack_end(GTK_BOX(controls), preview->zoomLabel, FALSE, FALSE, 6);
    gtk_box_pack_end(GTK_BOX(controls),
                     gimp_zoom_button_new(preview->zoom, GIMP_ZOOM_IN, GTK_ICON_SIZE_SMALL_TOOLBAR),
                     FALSE, FALSE, 0);
    gtk_box_pack_end(
        GTK_BOX(controls),
        gimp_zoom_button_new(preview->zoom, GIMP_ZOOM_OUT, GTK_ICON_SIZE_SMALL_TOOLBAR), FALSE,
        FALSE, 0);
    g_signal_connect(preview->zoom, "zoomed", G_CALLBACK(Zoomed), preview);
    return box;
}
