// plug-in-moxel: the stipple filter inside GIMP 2.10. This file is the procedure: its registration,
// its run modes and its answers; the pixels go through drawable_pixels.cpp, the dialog is
// dialog.cpp.
#include <libgimp/gimp.h>

#include <string>

#include "dialog.h"
#include "drawable_pixels.h"
#include "i18n.h"
#include "values.h"

namespace {

constexpr char kProcedure[] = "plug-in-moxel";

// libgimp declares the texts writable but only reads them.
GimpParamDef Argument(GimpPDBArgType type, const char* name, const char* description) {
    return {type, const_cast<gchar*>(name), const_cast<gchar*>(description)};
}

// "Shape { CIRCLE (0), TRIANGLE (1), ... }", after GIMP's way of listing a parameter's values.
std::string ShapeDescription() {
    std::string text = "Shape {";
    for (std::size_t shape = 0; shape < kShapeNames.size(); ++shape) {
        gchar* name = g_ascii_strup(kShapeNames[shape], -1);
        text += Owned(g_strdup_printf("%s %s (%zu)", shape == 0 ? "" : ",", name, shape));
        g_free(name);
    }
    return text + " }";
}

std::string RangeDescription(const char* what, SettingRange range, const char* more = "") {
    return Owned(g_strdup_printf("%s (%d - %d%s)", what, range.lowest, range.highest, more));
}

// The filter's parameters go by the core's names for its settings, as in every host.
void Query() {
    const std::string shape = ShapeDescription();
    const std::string density =
        RangeDescription("Share of the image covered by shapes, in percent", kDialogLimits.density);
    const std::string minSize = RangeDescription("Smallest shape size", kDialogLimits.size);
    const std::string maxSize =
        RangeDescription("Shape sizes stay below this", kDialogLimits.size, ", not below min-size");
    const std::string seed =
        RangeDescription("Random seed: the same seed draws the same shapes", kSeedRange);
    const GimpParamDef arguments[] = {
        Argument(GIMP_PDB_INT32, "run-mode",
                 "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"),
        Argument(GIMP_PDB_IMAGE, "image", "Input image"),
        Argument(GIMP_PDB_DRAWABLE, "drawable", "Input drawable"),
        Argument(GIMP_PDB_INT32, SettingName(SettingField::Shape), shape.c_str()),
        Argument(GIMP_PDB_INT32, SettingName(SettingField::Density), density.c_str()),
        Argument(GIMP_PDB_INT32, SettingName(SettingField::MinSize), minSize.c_str()),
        Argument(GIMP_PDB_INT32, SettingName(SettingField::MaxSize), maxSize.c_str()),
        Argument(GIMP_PDB_INT32, SettingName(SettingField::White),
                 "Paint on white: clear the image to white before drawing the shapes "
                 "{ FALSE, TRUE }"),
        Argument(GIMP_PDB_INT32, "seed", seed.c_str()),
    };
    gimp_plugin_domain_register(GETTEXT_PACKAGE, LocaleFolder());
    gimp_install_procedure(
        kProcedure, N_("Repaint the image as a field of small shapes coloured from it"),
        "Each shape takes its colour from the image beneath it; alpha is left as it was. An "
        "indexed image is left as it is, with an error that says how to convert it.",
        // Offered on indexed images too, so that the menu entry can say why it does nothing
        // there instead of being greyed out without a word.
        "MOXEL developers", "MOXEL developers", "2026", N_("Stipple (MOXEL)..."),
        "RGB*, GRAY*, INDEXED*", GIMP_PLUGIN, G_N_ELEMENTS(arguments), 0, arguments, nullptr);
    gimp_plugin_menu_register(kProcedure, "<Image>/Filters/Artistic");
}

PlugInValues LastValues() {
    PlugInValues values = kDefaultValues;
    // A record from another build of the plug-in (another size) is not ours to read.
    if (gimp_get_data_size(kProcedure) == sizeof values) gimp_get_data(kProcedure, &values);
    return values;
}

PlugInValues ValuesFromArguments(const GimpParam* arguments) {
    return {.shape = arguments[3].data.d_int32,
            .density = arguments[4].data.d_int32,
            .minSize = arguments[5].data.d_int32,
            .maxSize = arguments[6].data.d_int32,
            .white = arguments[7].data.d_int32,
            .seed = arguments[8].data.d_int32,
            .randomize = FALSE};
}

void Run(const gchar*, gint argumentCount, const GimpParam* arguments, gint* resultCount,
         GimpParam** results) {
    static GimpParam answer[2];
    static std::string message;
    *results = answer;
    *resultCount = 1;
    answer[0].type = GIMP_PDB_STATUS;
    const auto fail = [&](GimpPDBStatusType status, std::string why) {
        answer[0].data.d_status = status;
        message = std::move(why);
        answer[1].type = GIMP_PDB_STRING;
        answer[1].data.d_string = message.data();
        *resultCount = 2;
    };

    gegl_init(nullptr, nullptr);
    const auto mode = static_cast<GimpRunMode>(arguments[0].data.d_int32);
    const gint32 drawable = arguments[2].data.d_drawable;

    // GIMP shows an interactive run's error in a message of its own; a script gets it as the
    // error string.
    if (gimp_drawable_is_indexed(drawable)) {
        fail(GIMP_PDB_EXECUTION_ERROR,
             _("Stipple works on RGB and grayscale images only. Convert this indexed image "
               "first with Image > Mode > RGB."));
        return;
    }
    PlugInValues values = LastValues();
    switch (mode) {
        case GIMP_RUN_INTERACTIVE:
            if (!ShowDialog(drawable, values)) {
                answer[0].data.d_status = GIMP_PDB_CANCEL;
                return;
            }
            // Confirmed, these are what the dialog and Repeat start from next time, however the
            // run ends. Calls from scripts carry their own values and leave these alone.
            gimp_set_data(kProcedure, &values, sizeof values);
            break;
        case GIMP_RUN_NONINTERACTIVE: {
            if (argumentCount != 9) {
                fail(GIMP_PDB_CALLING_ERROR,
                     Owned(g_strdup_printf(_("%s takes %d arguments, not %d"), kProcedure, 9,
                                           argumentCount)));
                return;
            }
            values = ValuesFromArguments(arguments);
            if (std::string why = CheckValues(values); !why.empty()) {
                fail(GIMP_PDB_CALLING_ERROR, std::move(why));
                return;
            }
            break;
        }
        case GIMP_RUN_WITH_LAST_VALS:
            if (values.randomize) values.seed = NewSeed();
            break;
    }

    std::string why = FilterDrawable(drawable, values);
    if (!why.empty()) {
        fail(GIMP_PDB_EXECUTION_ERROR, std::move(why));
        return;
    }
    if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
    answer[0].data.d_status = GIMP_PDB_SUCCESS;
}

const GimpPlugInInfo kPlugInInfo = {nullptr, nullptr, Query, Run};

}  // namespace

// GIMP starts the plug-in by its full path; the catalog lies beside it.
int main(int argc, char** argv) {
    BindTranslations(argv[0]);
    return gimp_main(&kPlugInInfo, argc, argv);
}
