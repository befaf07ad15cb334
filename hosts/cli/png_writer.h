// PNG out of 8-bit RGB or RGBA pixels, deflated on several threads at once.
//
// libpng deflates a picture in one stream on one thread, and at 12 megapixels that took longer
// than decoding and filtering together. Here the rows are cut into bands, each band filtered
// (Sub) and deflated on its own with ISA-L, ended on a byte boundary, and the bands joined in
// order into the one zlib stream PNG allows, with the checksum combined from theirs. The bands
// are the same whatever the number of threads, so the bytes are too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// An ancillary chunk: its four-letter type and its data.
struct PngChunk {
    std::string type;
    std::string data;
};

// Writes the PNG of `pixels` (`height` rows of `width` * `bands` bytes without padding; 3 bands
// or 4) through `write`, which returns false to stop: then so does this, at once. `extra` goes
// after the header, before the pixels. Where rows are still being drawn, `ready(rows)` waits
// until rows 0 .. rows - 1 are final, false if they never will be. Throws std::bad_alloc, or
// std::runtime_error for a picture PNG cannot hold or that was never finished.
bool WritePng(const std::uint8_t* pixels, int width, int height, int bands,
              const std::vector<PngChunk>& extra, unsigned threads,
              const std::function<bool(std::string_view)>& write,
              const std::function<bool(int rows)>& ready = {});
