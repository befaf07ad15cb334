// Drawing calls: they paint into the bitmap selected in a memory context, clipped to it, with the
// context's pen and brush, through the rasteriser that reproduces GDI's pixels.
#include "gdi_objects.h"
#include "raster/raster.h"

#include <vector>

using namespace standin::detail;

namespace {

// The selected bitmap as the rasteriser's surface; false when the context has no bitmap of ours.
bool SurfaceOf(HDC handle, DeviceContext*& dc, raster::Surface& surface) {
    dc = ContextFrom(handle);
    if (dc == nullptr) return false;
    GdiObject* target = TargetOf(*dc);
    if (target == nullptr) return false;
    surface = {reinterpret_cast<std::uint8_t*>(target->line0), target->pitch, target->width,
               target->height};
    return true;
}

}  // namespace

int FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle) {
    GdiObject* brush = ObjectFrom(brushHandle);
    if (rect == nullptr || brush == nullptr || brush->kind != GdiKind::Brush) return 0;
    DeviceContext* dc = nullptr;
    raster::Surface surface{};
    if (!SurfaceOf(handle, dc, surface)) return dc != nullptr;
    raster::FillRect(surface, rect->left, rect->top, rect->right, rect->bottom, brush->colour);
    return 1;
}

BOOL Ellipse(HDC handle, int left, int top, int right, int bottom) {
    DeviceContext* dc = nullptr;
    raster::Surface surface{};
    if (!SurfaceOf(handle, dc, surface)) return dc != nullptr;
    raster::DrawEllipse(surface, left, top, right, bottom, dc->pen->colour, dc->brush->colour);
    return TRUE;
}

BOOL Polygon(HDC handle, const POINT* points, int count) {
    DeviceContext* dc = nullptr;
    raster::Surface surface{};
    if (points == nullptr || count < 2) return FALSE;
    if (!SurfaceOf(handle, dc, surface)) return dc != nullptr;
    // The plug-in's polygons have at most six corners: those need no allocation.
    raster::Point small[16];
    std::vector<raster::Point> large;
    raster::Point* converted = small;
    if (count > 16) {
        large.resize(count);
        converted = large.data();
    }
    for (int i = 0; i < count; ++i) converted[i] = {points[i].x, points[i].y};
    raster::DrawPolygon(
        surface, converted, count,
        dc->polyFillMode == WINDING ? raster::FillMode::Winding : raster::FillMode::Alternate,
        dc->pen->colour, dc->brush->colour);
    return TRUE;
}
