#include "dialog.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <vector>

#include "drawable_pixels.h"
#include "i18n.h"
#include "preview.h"

namespace {

constexpr char kBinary[] = "plug-in-moxel";

struct Dialog {
    gint32 drawable = -1;
    PlugInValues values = kDefaultValues;
    guint32 seed = 0;  // the seed widget writes here
    Preview* preview = nullptr;
    GtkAdjustment* minSize = nullptr;
    GtkAdjustment* maxSize = nullptr;
};

gint32 Rounded(GtkAdjustment* adjustment) {
    return static_cast<gint32>(std::lround(gtk_adjustment_get_value(adjustment)));
}

// The preview filters what is in view of the area a run filters (the selection's bounding box),
// as an image of its own. When all of that area is in view, the preview is the result; when only
// part of it is, shape sizes, density and colours come out as in the result, at the same scale,
// but the shapes' places, which depend on the size of the whole area, differ. Filtering only what
// is in view keeps the dialog quick on a large image.
bool FilterInView(const Dialog* dialog, std::vector<std::uint8_t>& pixels, const Area& area) {
    if (gimp_drawable_has_alpha(dialog->drawable)) FillHiddenColours(pixels, area);
    PlugInValues values = dialog->values;
    values.seed = static_cast<gint32>(dialog->seed);
    return FilterPixels(pixels, dialog->drawable, area, values).done();
}

// The sizes keep the core's order: the one moved pushes or pulls the other along. Moving the
// other scale comes back here once, with the sizes already in order.
void SizeMoved(Dialog* dialog, SettingField moved) {
    StippleSettings settings = ToSettings(dialog->values);
    settings.minSize = Rounded(dialog->minSize);
    settings.maxSize = Rounded(dialog->maxSize);
    KeepSizesInOrder(settings, moved);
    dialog->values.minSize = settings.minSize;
    dialog->values.maxSize = settings.maxSize;
    gtk_adjustment_set_value(dialog->minSize, settings.minSize);
    gtk_adjustment_set_value(dialog->maxSize, settings.maxSize);
    InvalidatePreview(dialog->preview);
}

void MinSizeChanged(GtkAdjustment*, Dialog* dialog) { SizeMoved(dialog, SettingField::MinSize); }

void MaxSizeChanged(GtkAdjustment*, Dialog* dialog) { SizeMoved(dialog, SettingField::MaxSize); }

void DensityChanged(GtkAdjustment* adjustment, Dialog* dialog) {
    dialog->values.density = Rounded(adjustment);
    InvalidatePreview(dialog->preview);
}

void ShapeChanged(GtkWidget* shapes, Dialog* dialog) {
    gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(shapes), &dialog->values.shape);
    InvalidatePreview(dialog->preview);
}

void WhiteToggled(GtkToggleButton* button, Dialog* dialog) {
    dialog->values.white = gtk_toggle_button_get_active(button) ? 1 : 0;
    InvalidatePreview(dialog->preview);
}

void SeedChanged(GtkAdjustment*, Dialog* dialog) { InvalidatePreview(dialog->preview); }

// The seed widget's button draws from the whole 32-bit range, which the procedure's seed (31 bits)
// would clamp to its top half the time: draw again, after it, from the procedure's range.
void NewSeedClicked(GtkButton*, GtkAdjustment* seed) { gtk_adjustment_set_value(seed, NewSeed()); }

GtkAdjustment* AddScale(GtkWidget* table, int row, const char* label, int value, SettingRange range,
                        int page) {
    return GTK_ADJUSTMENT(gimp_scale_entry_new(GTK_TABLE(table), 0, row, label, 200, 0, value,
                                               range.lowest, range.highest, 1, page, 0, TRUE, 0, 0,
                                               nullptr, nullptr));
}

// The combo box's words for the core's shapes, in ShapeKind order: each shape's value is its
// place here.
constexpr const char* kShapeLabels[] = {N_("Circle"),   N_("Triangle"), N_("Square"),
                                        N_("Pentagon"), N_("Hexagon"),  N_("Star")};
static_assert(std::size(kShapeLabels) == kShapeNames.size());

}  // namespace

bool ShowDialog(gint32 drawable, PlugInValues& values) {
    gimp_ui_init(kBinary, FALSE);
    Dialog state;
    state.drawable = drawable;
    state.values = values;
    state.seed = static_cast<guint32>(values.seed);

    // No Help button: GIMP's would look for a page of its own manual that we have none in.
    GtkWidget* dialog =
        gimp_dialog_new(_("Stipple (MOXEL)"), kBinary, nullptr, GtkDialogFlags(0), nullptr, nullptr,
                        _("_Cancel"), GTK_RESPONSE_CANCEL, _("_OK"), GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK,
                                            GTK_RESPONSE_CANCEL, -1);
    gimp_window_set_transient(GTK_WINDOW(dialog));

    GtkWidget* box = gtk_vbox_new(FALSE, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE,
                       0);

    GtkWidget* preview = NewPreview(
        drawable,
        [&state](std::vector<std::uint8_t>& pixels, const Area& area) {
            return FilterInView(&state, pixels, area);
        },
        &state.preview);
    gtk_box_pack_start(GTK_BOX(box), preview, TRUE, TRUE, 0);

    GtkWidget* table = gtk_table_new(6, 3, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_box_pack_start(GTK_BOX(box), table, FALSE, FALSE, 0);

    state.minSize = AddScale(table, 0, _("M_inimum size:"), values.minSize, kDialogLimits.size, 5);
    g_signal_connect(state.minSize, "value-changed", G_CALLBACK(MinSizeChanged), &state);
    state.maxSize = AddScale(table, 1, _("Ma_ximum size:"), values.maxSize, kDialogLimits.size, 5);
    g_signal_connect(state.maxSize, "value-changed", G_CALLBACK(MaxSizeChanged), &state);
    GtkAdjustment* density =
        AddScale(table, 2, _("_Density (%):"), values.density, kDialogLimits.density, 10);
    g_signal_connect(density, "value-changed", G_CALLBACK(DensityChanged), &state);

    const gchar* shapeLabels[std::size(kShapeLabels)];
    for (std::size_t shape = 0; shape < std::size(kShapeLabels); ++shape) {
        shapeLabels[shape] = _(kShapeLabels[shape]);
    }
    GtkWidget* shapes = gimp_int_combo_box_new_array(std::size(shapeLabels), shapeLabels);
    gimp_int_combo_box_connect(GIMP_INT_COMBO_BOX(shapes), values.shape, G_CALLBACK(ShapeChanged),
                               &state);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 3, _("_Shape:"), 0.0, 0.5, shapes, 2, FALSE);

    GtkWidget* seed = gimp_random_seed_new(&state.seed, &state.values.randomize);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 4, _("Random s_eed:"), 0.0, 0.5, seed, 2, TRUE);
    GtkAdjustment* seedAdjustment = GIMP_RANDOM_SEED_SPINBUTTON_ADJ(seed);
    gtk_adjustment_set_upper(seedAdjustment, kSeedRange.highest);
    // With Randomize on, the widget has just drawn a seed from the whole 32-bit range.
    if (!kSeedRange.Contains(state.seed)) gtk_adjustment_set_value(seedAdjustment, NewSeed());
    g_signal_connect(seedAdjustment, "value-changed", G_CALLBACK(SeedChanged), &state);
    GList* parts = gtk_container_get_children(GTK_CONTAINER(seed));
    for (GList* part = parts; part != nullptr; part = part->next) {
        if (GTK_IS_BUTTON(part->data) && !GTK_IS_TOGGLE_BUTTON(part->data)) {
            g_signal_connect_after(part->data, "clicked", G_CALLBACK(NewSeedClicked),
                                   seedAdjustment);
        }
    }
    g_list_free(parts);

    GtkWidget* white = gtk_check_button_new_with_mnemonic(_("Paint on _white"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(white), values.white == 1);
    g_signal_connect(white, "toggled", G_CALLBACK(WhiteToggled), &state);
    gtk_table_attach(GTK_TABLE(table), white, 0, 3, 5, 6, GTK_FILL, GTK_FILL, 0, 0);

    // The preview takes whatever room the dialog has: start with room for the drawable at full
    // size, as far as a generous preview within the screen goes.
    gtk_widget_show_all(box);
    GtkRequisition least;
    gtk_widget_size_request(dialog, &least);
    GdkScreen* screen = gtk_widget_get_screen(dialog);
    const auto roomy = [](int least, int previewLeast, int drawable, int screen) {
        return std::max(least,
                        std::min(least + std::min(drawable, 800) - previewLeast, screen * 3 / 4));
    };
    gtk_window_set_default_size(
        GTK_WINDOW(dialog),
        roomy(least.width, kPreviewLeast.width, gimp_drawable_width(drawable),
              gdk_screen_get_width(screen)),
        roomy(least.height, kPreviewLeast.height, gimp_drawable_height(drawable),
              gdk_screen_get_height(screen)));
    gtk_widget_show_all(dialog);
    const bool accepted = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    gtk_widget_destroy(dialog);
    if (accepted) {
        values = state.values;
        values.seed = static_cast<gint32>(state.seed);
    }
    return accepted;
}
