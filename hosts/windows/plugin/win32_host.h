// A paint application as the run's host: its RowProc locations and its progress window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "render/host.h"
#include "settings/settings.h"

// The run as FilterProc performs it: loads the settings from `settingsDirectory` into the
// plug-in's instance, then runs with them. 1 after a complete run, 0 when it could not run.
int RunFilter(HWND progress, const ImageSize* size, RowProc* writeRow, RowProc* readRow,
              const char* settingsDirectory, std::uint32_t seed);

// The same with settings of the caller's.
int RunFilterWith(const StippleSettings& settings, HWND progress, const ImageSize* size,
                  RowProc* writeRow, RowProc* readRow, std::uint32_t seed);
