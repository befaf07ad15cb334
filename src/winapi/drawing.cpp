// Drawing calls: they paint into the bitmap selected in a memory context, clipped to it.
#include <algorithm>
#include <cstring>

#include "gdi_objects.h"

using namespace standin::detail;

int FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle) {
    DeviceContext* dc = ContextFrom(handle);
    GdiObject* brush = ObjectFrom(brushHandle);
    if (dc == nullptr || rect == nullptr || brush == nullptr || brush->kind != GdiKind::Brush) {
        return 0;
    }
    GdiObject* target = TargetOf(*dc);
    if (target == nullptr) return 1;
    const int left = std::max<LONG>(rect->left, 0);
    const int right = std::min<LONG>(rect->right, target->width);
    const int top = std::max<LONG>(rect->top, 0);
    const int bottom = std::min<LONG>(rect->bottom, target->height);
    if (left >= right || top >= bottom) return 1;
    const std::byte bgr[3] = {std::byte(brush->colour >> 16), std::byte(brush->colour >> 8),
                              std::byte(brush->colour)};
    for (int y = top; y < bottom; ++y) {
        std::byte* pixel = target->line0 + y * target->pitch + left * 3;
        for (int x = left; x < right; ++x, pixel += 3) std::memcpy(pixel, bgr, 3);
    }
    return 1;
}
