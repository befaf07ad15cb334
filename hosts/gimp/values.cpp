#include "values.h"

#include <string_view>

#include "i18n.h"

// The core's words for a refused setting are the catalog's msgids. xgettext only finds literal
// strings, so they are written out here once more; these checks keep them the core's.
static_assert(std::string_view{N_("%s is %d, outside its range %d to %d")} ==
              kEnglishWords.outside);
static_assert(std::string_view{N_("%s is %d, below %s (%d)")} == kEnglishWords.belowMinSize);
static_assert(std::string_view{N_("a %d x %d image cannot be filtered")} ==
              kEnglishResultWords.sizeRefused);
static_assert(std::string_view{N_("not enough memory to filter a %d x %d image")} ==
              kEnglishResultWords.outOfMemory);

StippleSettings ToSettings(const PlugInValues& values) {
    return {.clearFirst = values.white,
            .minSize = values.minSize,
            .maxSize = values.maxSize,
            .density = values.density,
            .shape = values.shape};
}

SettingsWords TranslatedWords() {
    return {_(kEnglishWords.outside), _(kEnglishWords.belowMinSize)};
}

ResultWords TranslatedResultWords() {
    return {TranslatedWords(), _(kEnglishResultWords.sizeRefused),
            _(kEnglishResultWords.outOfMemory)};
}

std::string CheckValues(const PlugInValues& values) {
    const SettingsWords words = TranslatedWords();
    if (const std::optional<SettingsFault> fault =
            CheckSettings(ToSettings(values), kDialogLimits)) {
        return DescribeFault(*fault, words);
    }
    // The seed is no setting of the filter's, but every host takes the same ones.
    if (!kSeedRange.Contains(values.seed)) {
        return Owned(g_strdup_printf(words.outside, "seed", values.seed, kSeedRange.lowest,
                                     kSeedRange.highest));
    }
    return {};
}

gint32 NewSeed() {
    const auto seeds = static_cast<guint32>(kSeedRange.highest - kSeedRange.lowest) + 1;
    return static_cast<gint32>(kSeedRange.lowest + g_random_int() % seeds);
}
