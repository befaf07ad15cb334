#include "render/canvas.h"

#include <limits>

namespace {

// Room for the header and a full colour table, which a 24-bit bitmap leaves zero.
constexpr SIZE_T kHeaderBlockBytes = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);

}  // namespace

std::int64_t CanvasWidth(std::int64_t width) { return width + 4 - width % 4; }

bool CreateCanvas(StippleCanvas& canvas, LONG width, LONG height) {
    const std::int64_t canvasWidth = CanvasWidth(width);
    if (canvasWidth > std::numeric_limits<LONG>::max()) return false;

    canvas.header = GlobalAlloc(GMEM_ZEROINIT, kHeaderBlockBytes);
    if (canvas.header == nullptr) return false;
    auto* info =
        static_cast<BITMAPINFO*>(canvas.header);  // fixed memory: the handle is the address
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = static_cast<LONG>(canvasWidth);
    info->bmiHeader.biHeight = height;  // positive: bottom-up
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;

    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    canvas.bitmap = CreateDIBSection(screen, info, DIB_RGB_COLORS, &bits, nullptr, 0);
    canvas.bits = static_cast<BYTE*>(bits);
    canvas.dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (canvas.bitmap == nullptr || canvas.bits == nullptr || canvas.dc == nullptr) {
        ReleaseCanvas(canvas);
        return false;
    }
    canvas.previousBitmap = SelectObject(canvas.dc, canvas.bitmap);
    canvas.rowBytes = static_cast<std::size_t>(canvasWidth) * 3;
    return true;
}

void ReleaseCanvas(StippleCanvas& canvas) {
    if (canvas.dc != nullptr) {
        if (canvas.previousBitmap != nullptr) SelectObject(canvas.dc, canvas.previousBitmap);
        DeleteDC(canvas.dc);
    }
    if (canvas.bitmap != nullptr) DeleteObject(canvas.bitmap);
    if (canvas.header != nullptr) GlobalFree(canvas.header);
    canvas = StippleCanvas{};
}
