// One filter run: the host's image in through a working canvas, the stipple pass, and back out.
#pragma once

#include <cstdint>

#include "render/host.h"
#include "settings/settings.h"

enum class RunStatus {
    Done,
    SizeRefused,  // a negative size, or a canvas wider than a bitmap can be
    OutOfMemory,  // the canvas or the row buffer could not be had
};

// The whole run with these settings, seeded once with `seed`. Unless it is done, the host has
// seen no row written and no message.
RunStatus RunStipple(const StippleSettings& settings, const ImageSize& size,
                     const StippleHost& host, std::uint32_t seed);
