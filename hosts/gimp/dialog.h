// The plug-in's dialog: the settings, the seed and a live preview.
#pragma once

#include <glib.h>

#include "values.h"

// Shows the dialog for `drawable`, starting from `values`; true and the chosen values on OK.
bool ShowDialog(gint32 drawable, PlugInValues& values);
