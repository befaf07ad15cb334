// The stipple pass: scatters the shapes over the canvas.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/plugin.h"
#include "settings/settings.h"

void RunStipplePass(HDC dc, const ImageSize& size, RowProc* readRow, HWND progress,
                    const StippleSettings& settings, std::uint32_t seed);
