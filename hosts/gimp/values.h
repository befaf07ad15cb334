// What plug-in-moxel takes besides the image, kept between runs with gimp_set_data.
#pragma once

#include <glib.h>

#include <string>

#include "embed/stipple_buffer.h"
#include "settings/contract.h"

struct PlugInValues {
    gint32 shape;
    gint32 density;
    gint32 minSize;
    gint32 maxSize;
    gint32 white;  // 1: clear to white first
    gint32 seed;   // in kSeedRange
    // A run from the dialog starts with a new seed, and so does a repeat of such a run.
    gboolean randomize;
};

// The plug-in's own defaults, with a new seed each time until the user fixes one.
constexpr PlugInValues kDefaultValues{.shape = kDefaultSettings.shape,
                                      .density = kDefaultSettings.density,
                                      .minSize = kDefaultSettings.minSize,
                                      .maxSize = kDefaultSettings.maxSize,
                                      .white = kDefaultSettings.clearFirst,
                                      .seed = 0,
                                      .randomize = TRUE};

StippleSettings ToSettings(const PlugInValues& values);

// The core's words for a refused setting, in the user's language.
SettingsWords TranslatedWords();

// The core's words for every failed run, in the user's language.
ResultWords TranslatedResultWords();

// Empty when the values pass the core's check against the dialog's limits and the seed is one
// the procedure takes; otherwise why not, naming the parameter.
std::string CheckValues(const PlugInValues& values);

// A seed for a run that asks for a new one.
gint32 NewSeed();
