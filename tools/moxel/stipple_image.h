// Applies the filter to an image in memory through the plug-in's own run: the same canvas, pass
// and rasteriser a host gets, with this tool as the host.
#pragma once

#include <cstdint>
#include <functional>

#include "image_io.h"
#include "settings/settings.h"

// Called with each percentage the run reports (0..99), then 100 when it is done.
using ProgressCallback = std::function<void(int percent)>;

// Replaces the image's pixels with the filtered ones. False when the run could not be made
// (it could not get its memory); the image is then unchanged.
bool StippleImage(Image& image, const StippleSettings& settings, std::uint32_t seed,
                  const ProgressCallback& progress = {});
