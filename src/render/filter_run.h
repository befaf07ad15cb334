// One filter run: the host's image in through a working canvas, the stipple pass, and back out.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/plugin.h"
#include "settings/settings.h"

// The whole run as the plug-in performs it: loads the settings from `settingsDirectory` into the
// plug-in's instance, then runs with them. 1 after a complete run, 0 when it could not run.
int RunFilter(HWND progress, const ImageSize* size, RowProc* writeRow, RowProc* readRow,
              const char* settingsDirectory, std::uint32_t seed);

// The run with settings of the caller's.
int RunFilterWith(const StippleSettings& settings, HWND progress, const ImageSize* size,
                  RowProc* writeRow, RowProc* readRow, std::uint32_t seed);
