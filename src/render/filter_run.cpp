#include "render/filter_run.h"

#include <cstring>
#include <limits>

#include "render/canvas.h"
#include "render/stipple_pass.h"

namespace {

// Room beyond one row that hosts have come to expect in the buffer they are handed.
constexpr std::uint64_t kRowBufferSlack = 100;

void FillFromImage(const StippleCanvas& canvas, LONG width, LONG height, const StippleHost& host,
                   BYTE* buffer) {
    const std::size_t bytes = static_cast<std::size_t>(width) * 3;
    for (LONG row = 0; row < height; ++row) {
        host.readRow(host.context, row, 0, width - 1, buffer);
        std::memcpy(canvas.bits + row * canvas.rowBytes, buffer, bytes);
    }
}

void FillWhite(const StippleCanvas& canvas, LONG width, LONG height) {
    HBRUSH white = CreateSolidBrush(0xFFFFFF);
    HGDIOBJ previous = SelectObject(canvas.dc, white);
    const RECT all{0, 0, width, height};
    FillRect(canvas.dc, &all, white);
    SelectObject(canvas.dc, previous);
    DeleteObject(white);
}

void WriteBack(const StippleCanvas& canvas, LONG width, LONG height, const StippleHost& host,
               BYTE* buffer) {
    const std::size_t bytes = static_cast<std::size_t>(width) * 3;
    for (LONG row = 0; row < height; ++row) {
        std::memcpy(buffer, canvas.bits + row * canvas.rowBytes, bytes);
        host.writeRow(host.context, row, 0, width - 1, buffer);
    }
}

// Locked row buffer, or null. A block that could be allocated but not locked is freed again.
BYTE* AllocateRowBuffer(LONG width) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(width) * 3 + kRowBufferSlack;
    if (bytes > SIZE_MAX) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(bytes));
    if (block == nullptr) return nullptr;
    auto* buffer = static_cast<BYTE*>(GlobalLock(block));
    if (buffer == nullptr) GlobalFree(block);
    return buffer;
}

void FreeRowBuffer(BYTE* buffer) {
    GlobalUnlock(GlobalHandle(buffer));
    GlobalFree(GlobalHandle(buffer));
}

}  // namespace

RunStatus RunStipple(const StippleSettings& settings, const ImageSize& size,
                     const StippleHost& host, std::uint32_t seed) {
    const LONG width = size.width;
    const LONG height = size.height;
    // A negative size is no image at all: nothing is read or written, and the host hears so.
    if (width < 0 || height < 0) return RunStatus::SizeRefused;

    // An image with no rows has nothing to read, draw or write back, and a bitmap with no rows
    // cannot be made; the run is complete as it stands.
    if (height > 0) {
        if (CanvasWidth(width) > std::numeric_limits<LONG>::max()) return RunStatus::SizeRefused;
        StippleCanvas canvas;
        if (!CreateCanvas(canvas, width, height)) return RunStatus::OutOfMemory;
        BYTE* buffer = AllocateRowBuffer(width);
        if (buffer == nullptr) {
            ReleaseCanvas(canvas);
            return RunStatus::OutOfMemory;
        }
        if (settings.clearFirst == 0) {
            FillFromImage(canvas, width, height, host, buffer);
        } else if (settings.clearFirst == 1) {
            FillWhite(canvas, width, height);
        }
        RunStipplePass(canvas.dc, size, host, settings, seed);
        WriteBack(canvas, width, height, host, buffer);
        FreeRowBuffer(buffer);
        ReleaseCanvas(canvas);
    }
    host.progress(host.context, kProgressDone);
    return RunStatus::Done;
}
