// Bitmaps, pens, brushes and drawing contexts. Pens and brushes come from a per-thread free list,
// so the create-select-delete cycle around every shape costs no heap allocation once warm.
#include "gdi_objects.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "thread_state.h"

namespace standin::detail {
namespace {

// Stock objects: what a new memory context holds before anything is selected. They are never
// counted and never deleted.
GdiObject stockBitmap{.kind = GdiKind::Bitmap, .stock = true, .width = 1, .height = 1};
GdiObject stockBlackPen{.kind = GdiKind::Pen, .stock = true, .colour = 0x000000};
GdiObject stockWhiteBrush{.kind = GdiKind::Brush, .stock = true, .colour = 0xFFFFFF};
DeviceContext screen{.memory = false};

// Free objects of this thread, linked through `nextFree`. Plain data, so taking and giving back
// costs a couple of loads and stores.
constinit thread_local GdiObject* freeObjects = nullptr;

// Where this thread's objects live: blocks that are never shrunk, released when the thread ends.
class ObjectBlocks {
public:
    ~ObjectBlocks() {
        for (GdiObject* block : blocks_) delete[] block;
        freeObjects = nullptr;
    }
    void Grow() {
        constexpr int kBlockObjects = 64;
        GdiObject* block = new GdiObject[kBlockObjects];
        blocks_.push_back(block);
        for (int i = 0; i < kBlockObjects; ++i) Give(&block[i]);
    }
    static void Give(GdiObject* object) {
        object->magic = 0;
        object->nextFree = freeObjects;
        freeObjects = object;
    }

private:
    std::vector<GdiObject*> blocks_;
};

[[gnu::noinline]] void GrowFreeObjects() {
    thread_local ObjectBlocks blocks;
    blocks.Grow();
}

GdiObject* TakeObject() {
    if (freeObjects == nullptr) GrowFreeObjects();
    GdiObject* object = freeObjects;
    freeObjects = object->nextFree;
    return object;
}

Resource ResourceOf(GdiKind kind) {
    switch (kind) {
        case GdiKind::Bitmap:
            return Resource::DibSection;
        case GdiKind::Pen:
            return Resource::Pen;
        case GdiKind::Brush:
            break;
    }
    return Resource::Brush;
}

GdiObject* NewObject(GdiKind kind, COLORREF colour) {
    if (ShouldFail(ResourceOf(kind))) return nullptr;
    GdiObject* object = TakeObject();
    // Only what a pen or brush uses: this runs twice for every shape.
    object->magic = GdiObject::kAlive;
    object->kind = kind;
    object->stock = false;
    object->selections = 0;
    object->colour = colour;
    object->pixels = nullptr;
    Created(ResourceOf(kind));
    return object;
}

// Stock objects are shared by every thread and never deleted, so they keep no selection count.
void Deselect(GdiObject& object) {
    if (!object.stock) --object.selections;
}

// Swaps `object` into the context's slot for its kind and returns what the slot held.
GdiObject* Swap(GdiObject*& slot, GdiObject* object) {
    GdiObject* previous = slot;
    Deselect(*previous);
    if (!object->stock) ++object->selections;
    slot = object;
    return previous;
}

}  // namespace

GdiObject* ObjectFrom(HGDIOBJ handle) {
    auto* object = static_cast<GdiObject*>(handle);
    return object != nullptr && object->magic == GdiObject::kAlive ? object : nullptr;
}

DeviceContext* ContextFrom(HDC handle) {
    auto* dc = reinterpret_cast<DeviceContext*>(handle);
    return dc != nullptr && dc->magic == DeviceContext::kAlive ? dc : nullptr;
}

}  // namespace standin::detail

using namespace standin::detail;
using standin::Resource;

HDC GetDC(HWND) { return reinterpret_cast<HDC>(&screen); }

int ReleaseDC(HWND, HDC dc) { return ContextFrom(dc) == &screen ? 1 : 0; }

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD) {
    if (bits != nullptr) *bits = nullptr;
    if (ContextFrom(dc) == nullptr || info == nullptr || usage != DIB_RGB_COLORS ||
        section != nullptr) {
        return nullptr;
    }
    // Only what the filter makes: 24-bit, uncompressed, either row order.
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 ||
        header.biBitCount != 24 || header.biCompression != BI_RGB || header.biWidth <= 0 ||
        header.biHeight == 0 || header.biHeight == INT32_MIN) {
        return nullptr;
    }
    const std::int64_t width = header.biWidth;
    const std::int64_t height =
        header.biHeight < 0 ? -std::int64_t{header.biHeight} : std::int64_t{header.biHeight};
    const std::int64_t stride = (width * 3 + 3) & ~std::int64_t{3};  // rows end on 4-byte words
    if (stride > PTRDIFF_MAX / height) return nullptr;
    if (ShouldFail(Resource::DibSection)) return nullptr;
    auto* pixels =
        static_cast<std::byte*>(std::calloc(static_cast<std::size_t>(stride * height), 1));
    if (pixels == nullptr) return nullptr;

    GdiObject* bitmap = TakeObject();
    const bool bottomUp = header.biHeight > 0;
    *bitmap = GdiObject{.kind = GdiKind::Bitmap,
                        .pixels = pixels,
                        .line0 = bottomUp ? pixels + (height - 1) * stride : pixels,
                        // Fits: the size check above bounds stride * height by PTRDIFF_MAX.
                        .pitch = static_cast<std::ptrdiff_t>(bottomUp ? -stride : stride),
                        .width = static_cast<int>(width),
                        .height = static_cast<int>(height)};
    Created(Resource::DibSection);
    if (bits != nullptr) *bits = pixels;
    return reinterpret_cast<HBITMAP>(bitmap);
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc != nullptr && ContextFrom(dc) == nullptr) return nullptr;
    if (ShouldFail(Resource::MemoryDc)) return nullptr;
    auto* context = new (std::nothrow) DeviceContext{
        .memory = true, .bitmap = &stockBitmap, .pen = &stockBlackPen, .brush = &stockWhiteBrush};
    if (context == nullptr) return nullptr;
    Created(Resource::MemoryDc);
    return reinterpret_cast<HDC>(context);
}

BOOL DeleteDC(HDC handle) {
    DeviceContext* dc = ContextFrom(handle);
    if (dc == nullptr || !dc->memory) return FALSE;
    for (GdiObject* object : {dc->bitmap, dc->pen, dc->brush}) Deselect(*object);
    dc->magic = 0;
    delete dc;
    Released(Resource::MemoryDc);
    return TRUE;
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ selected) {
    DeviceContext* dc = ContextFrom(handle);
    GdiObject* object = ObjectFrom(selected);
    if (dc == nullptr || object == nullptr) return nullptr;
    switch (object->kind) {
        case GdiKind::Bitmap:
            // A bitmap lives in one memory context at a time, as in GDI.
            if (!dc->memory || (object->selections > 0 && dc->bitmap != object)) return nullptr;
            return Swap(dc->bitmap, object);
        case GdiKind::Pen:
            return Swap(dc->pen, object);
        case GdiKind::Brush:
            return Swap(dc->brush, object);
    }
    return nullptr;
}

BOOL DeleteObject(HGDIOBJ handle) {
    GdiObject* object = ObjectFrom(handle);
    if (object == nullptr) return FALSE;
    if (object->stock) return TRUE;
    // Deleting what a context still holds is a caller's bug; refusing keeps it visible in the
    // live counts instead of leaving the context with a dangling object.
    if (object->selections > 0) return FALSE;
    if (object->kind == GdiKind::Bitmap) std::free(object->pixels);
    Released(ResourceOf(object->kind));
    ObjectBlocks::Give(object);
    return TRUE;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    return reinterpret_cast<HBRUSH>(NewObject(GdiKind::Brush, colour & 0xFFFFFF));
}

HPEN CreatePen(int style, int width, COLORREF colour) {
    // Only the cosmetic solid pen is drawn; anything else would draw wrong pixels silently.
    if (style != PS_SOLID || width > 1) return nullptr;
    return reinterpret_cast<HPEN>(NewObject(GdiKind::Pen, colour & 0xFFFFFF));
}

int SetPolyFillMode(HDC handle, int mode) {
    DeviceContext* dc = ContextFrom(handle);
    if (dc == nullptr || (mode != ALTERNATE && mode != WINDING)) return 0;
    const int previous = dc->polyFillMode;
    dc->polyFillMode = mode;
    return previous;
}
