// What crosses between the run and whoever holds the image: a paint application through the
// plug-in's exports, or a Linux host through the embedding API.
#pragma once

#include <windows.h>

#include <cstddef>

// The image's size as a paint application hands it over; the plug-in reads only these two
// fields of the application's record and never writes it.
struct ImageSize {
    LONG width;
    LONG height;
};

// A paint application's callback that moves the pixels firstColumn..lastColumn (inclusive) of
// one image row between the image and `buffer`, 3 bytes a pixel in the order blue, green, red.
// `flag` is always -1. The result is not used.
typedef int(WINAPI* RowProc)(int row, int firstColumn, int lastColumn, BYTE* buffer, int flag);

// wParam of the WM_USER progress message sent to a paint application's window.
constexpr WPARAM PROGRESS_PERCENT = 3;  // lParam: percentage done, 0..99
constexpr WPARAM PROGRESS_DONE = 0;     // lParam: 0; sent once at the end of a complete run

// The percentage a run reports last, once its image is back with the host.
constexpr int kProgressDone = 100;

// A host's picture as rows of 3-byte pixels in its own memory, which the band run may draw on in
// place instead of copying every row out and back.
struct HostRows {
    BYTE* top = nullptr;  // row 0's first pixel; nullptr: the rows only through readRow/writeRow
    std::ptrdiff_t stride = 0;
    bool redFirst = false;  // red, green, blue; else blue, green, red
};

// The run's host: the image's rows in and out, and how far the run has got, each with the
// host's own context. The run reads every row and pixel it needs before it writes any row, and
// hands the host whole rows (columns 0 to width - 1) and single pixels, blue, green, red.
struct StippleHost {
    void* context;
    void (*readRow)(void* context, int row, int first, int last, BYTE* pixels);
    void (*writeRow)(void* context, int row, int first, int last, BYTE* pixels);
    // 0..99 while the shapes are drawn, rising; kProgressDone after the last row is written.
    void (*progress)(void* context, int percent);
    HostRows rows = {};  // only the band run draws there; the plug-in's run keeps to the calls
    // Optional, band run only: rows 0 .. count - 1 now hold their final pixels (count rising, from
    // any of the run's threads, one call at a time), so the host can pass them on while the rest
    // are drawn.
    void (*rowsFinal)(void* context, int count) = nullptr;
};
