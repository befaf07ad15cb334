#include "values.h"

#include "i18n.h"

StippleSettings ToSettings(const PlugInValues& values) {
    return {.clearFirst = values.white,
            .minSize = values.minSize,
            .maxSize = values.maxSize,
            .density = values.density,
            .shape = values.shape};
}

namespace {

struct Range {
    const char* name;  // the parameter's name in the procedure database
    gint32 PlugInValues::*field;
    gint32 lowest;
    gint32 highest;
};

constexpr Range kRanges[] = {
    {"shape", &PlugInValues::shape, Circle, Star},
    {"density", &PlugInValues::density, kDensityLowest, kDensityHighest},
    {"min-size", &PlugInValues::minSize, kSizeLowest, kSizeHighest},
    {"max-size", &PlugInValues::maxSize, kSizeLowest, kSizeHighest},
    {"white", &PlugInValues::white, 0, 1},
    {"seed", &PlugInValues::seed, 0, G_MAXINT32},
};

}  // namespace

std::string CheckValues(const PlugInValues& values) {
    for (const Range& range : kRanges) {
        const gint32 value = values.*range.field;
        if (value < range.lowest || value > range.highest) {
            return Owned(g_strdup_printf(_("%s is %d, outside its range %d to %d"), range.name,
                                         value, range.lowest, range.highest));
        }
    }
    if (values.maxSize < values.minSize) {
        return Owned(g_strdup_printf(_("%s is %d, below %s (%d)"), "max-size", values.maxSize,
                                     "min-size", values.minSize));
    }
    return {};
}

gint32 NewSeed() { return static_cast<gint32>(g_random_int() & G_MAXINT32); }
