// The stand-in's graphics objects and drawing contexts, shared by the object and drawing code.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace standin::detail {

enum class GdiKind : std::uint8_t { Bitmap, Pen, Brush };

struct GdiObject {
    static constexpr std::uint32_t kAlive = 0x4F424A31;
    std::uint32_t magic = kAlive;
    GdiKind kind = GdiKind::Pen;
    bool stock = false;
    int selections = 0;  // drawing contexts holding it; a selected object is not deleted
    COLORREF colour = 0;
    // Bitmaps only: the pixels of drawing line y start at line0 + y * pitch (3 bytes a pixel).
    std::byte* pixels = nullptr;
    std::byte* line0 = nullptr;
    std::ptrdiff_t pitch = 0;
    int width = 0;
    int height = 0;
    GdiObject* nextFree = nullptr;  // while in the free list
};

struct DeviceContext {
    static constexpr std::uint32_t kAlive = 0x44435F31;
    std::uint32_t magic = kAlive;
    bool memory = false;
    GdiObject* bitmap = nullptr;
    GdiObject* pen = nullptr;
    GdiObject* brush = nullptr;
    int polyFillMode = ALTERNATE;
};

// The live object behind a handle, or null for anything else.
GdiObject* ObjectFrom(HGDIOBJ handle);
DeviceContext* ContextFrom(HDC handle);

// The drawing target of a context: its selected bitmap, or null when it has only the stock one.
inline GdiObject* TargetOf(const DeviceContext& dc) {
    return dc.bitmap != nullptr && dc.bitmap->pixels != nullptr ? dc.bitmap : nullptr;
}

}  // namespace standin::detail
