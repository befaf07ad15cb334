#include "render/shape_drawing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "settings/settings.h"

// Bits 0x3F91DF46A1FAE712, written as a hex float: the wasm build's libc++ has no std::bit_cast.
const double DEG_TO_RAD = 0x1.1DF46A1FAE712p-6;

namespace {

struct PolygonShape {
    int firstAngle;  // degrees; 0 points toward host row 0
    int step;
    int vertices;
};

// By kind; the star steps over every other corner of the pentagon, crossing itself.
constexpr std::array<PolygonShape, 6> kPolygons{{
    {0, 0, 0},    // Circle: not a polygon
    {0, 120, 3},  // Triangle
    {45, 90, 4},  // Square
    {0, 72, 5},   // Pentagon
    {0, 60, 6},   // Hexagon
    {0, 144, 5},  // Star
}};

// Sizes up to here keep their vertex offsets in a table: the trigonometry of a shape then costs
// nothing per shape. The dialog's sizes stop at 30.
constexpr int kTabledSizes = 64;

struct Offset {
    int dx;
    int dy;
};

LONG ClampToLong(std::int64_t value) {
    return static_cast<LONG>(std::clamp<std::int64_t>(value, std::numeric_limits<LONG>::min(),
                                                      std::numeric_limits<LONG>::max()));
}

// trunc(f(angle * DEG_TO_RAD) * s), kept defined for sizes whose product leaves 32 bits.
std::int64_t Truncated(double product) {
    constexpr double kLimit = 9.0e18;
    return static_cast<std::int64_t>(std::clamp(std::trunc(product), -kLimit, kLimit));
}

int ComputeOffsets(int kind, int s, Offset (&offsets)[kMaxVertices]) {
    const PolygonShape& shape = kPolygons[kind];
    int angle = shape.firstAngle;
    for (int k = 0; k < shape.vertices; ++k) {
        const double radians = static_cast<double>(angle) * DEG_TO_RAD;
        offsets[k] = {static_cast<int>(std::clamp<std::int64_t>(Truncated(std::sin(radians) * s),
                                                                INT32_MIN, INT32_MAX)),
                      static_cast<int>(std::clamp<std::int64_t>(Truncated(std::cos(radians) * s),
                                                                INT32_MIN, INT32_MAX))};
        angle += shape.step;
        if (angle >= 360) angle -= 360;
    }
    return shape.vertices;
}

struct OffsetTable {
    Offset offsets[kPolygons.size()][kTabledSizes][kMaxVertices];

    OffsetTable() {
        for (int kind = Triangle; kind <= Star; ++kind) {
            for (int s = 0; s < kTabledSizes; ++s) ComputeOffsets(kind, s, offsets[kind][s]);
        }
    }
};

const OffsetTable& Table() {
    static const OffsetTable table;
    return table;
}

bool IsPolygon(int kind) { return kind >= Triangle && kind <= Star; }

}  // namespace

int PolygonVertices(int kind, int x, int y, int s, POINT (&vertices)[kMaxVertices]) {
    if (!IsPolygon(kind)) return 0;
    Offset computed[kMaxVertices];
    const Offset* offsets = computed;
    if (s >= 0 && s < kTabledSizes) {
        offsets = Table().offsets[kind][s];
    } else {
        ComputeOffsets(kind, s, computed);
    }
    const int count = kPolygons[kind].vertices;
    for (int k = 0; k < count; ++k) {
        vertices[k] = {ClampToLong(std::int64_t{x} + offsets[k].dx),
                       ClampToLong(std::int64_t{y} + offsets[k].dy)};
    }
    return count;
}

RECT CircleBox(int x, int y, int s) {
    const std::int64_t r = s / 2;
    return {ClampToLong(x - r), ClampToLong(y - r), ClampToLong(x + r), ClampToLong(y + r)};
}

void DrawShape(HDC dc, int x, int y, int s, int kind) {
    if (kind == Circle) {
        const RECT box = CircleBox(x, y, s);
        Ellipse(dc, box.left, box.top, box.right, box.bottom);
        return;
    }
    POINT vertices[kMaxVertices];
    const int count = PolygonVertices(kind, x, y, s, vertices);
    if (count == 0) return;
    SetPolyFillMode(dc, WINDING);
    Polygon(dc, vertices, count);
}
