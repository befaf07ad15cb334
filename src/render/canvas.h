// The working canvas of one run: a 24-bit bottom-up DIB section selected into a memory context.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct StippleCanvas {
    HGLOBAL header = nullptr;  // the BITMAPINFO the bitmap was made from
    HBITMAP bitmap = nullptr;
    BYTE* bits = nullptr;  // memory row r holds host row r
    HDC dc = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    std::size_t rowBytes = 0;  // canvasWidth * 3
};

// The image width rounded up past the next multiple of 4 (a multiple of 4 still gains 4), so a
// canvas row is whole 4-byte words. 64-bit, as a width near the top of its range overflows 32.
std::int64_t CanvasWidth(std::int64_t width);

// Builds the canvas for an image of this size (height above 0). On failure releases whatever it
// made and returns false.
bool CreateCanvas(StippleCanvas& canvas, LONG width, LONG height);
void ReleaseCanvas(StippleCanvas& canvas);
