// The geometry of the six shapes and the drawing of one shape with the selected pen and brush.
#pragma once

#include <windows.h>

#include <cstdint>

// The degree-to-radian factor the shapes have always been drawn with: a hair above
// 0.0174532925, not pi/180, and it decides which pixel some vertices land on.
extern const double DEG_TO_RAD;

constexpr int kMaxVertices = 6;

// The vertices of a polygon kind (1..5) of size s around (x, y), in drawing order; the number
// of vertices, or 0 for any other kind.
int PolygonVertices(int kind, int x, int y, int s, POINT (&vertices)[kMaxVertices]);

// The circle's bounding box: r = s / 2 either side of the centre; right and bottom exclusive.
RECT CircleBox(int x, int y, int s);

// Draws a shape of `kind` and size s centred at (x, y) with what is selected in `dc`; nothing
// for a kind outside 0..5.
void DrawShape(HDC dc, int x, int y, int s, int kind);
