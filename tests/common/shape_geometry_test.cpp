// Shape geometry is plain arithmetic: these hold on both builds, so the Windows run also proves
// that its runtime's sine and cosine land every vertex where the Linux one does.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "render/shape_drawing.h"
#include "settings/settings.h"

namespace {

using Offsets = std::vector<std::pair<int, int>>;

Offsets VertexOffsets(int kind, int s, int x = 50, int y = 70) {
    POINT vertices[kMaxVertices];
    const int count = PolygonVertices(kind, x, y, s, vertices);
    Offsets offsets;
    for (int k = 0; k < count; ++k) offsets.emplace_back(vertices[k].x - x, vertices[k].y - y);
    return offsets;
}

struct VertexCase {
    int kind;
    int size;
    Offsets offsets;
};

TEST(ShapeGeometry, VerticesForSizesFourAndTen) {
    const VertexCase cases[] = {
        {Triangle, 4, {{0, 4}, {3, -1}, {-3, -2}}},
        {Triangle, 10, {{0, 10}, {8, -4}, {-8, -5}}},
        {Square, 4, {{2, 2}, {2, -2}, {-2, -2}, {-2, 2}}},
        {Square, 10, {{7, 7}, {7, -7}, {-7, -7}, {-7, 7}}},
        {Pentagon, 4, {{0, 4}, {3, 1}, {2, -3}, {-2, -3}, {-3, 1}}},
        {Pentagon, 10, {{0, 10}, {9, 3}, {5, -8}, {-5, -8}, {-9, 3}}},
        {Hexagon, 4, {{0, 4}, {3, 2}, {3, -1}, {0, -4}, {-3, -2}, {-3, 1}}},
        {Hexagon, 10, {{0, 10}, {8, 5}, {8, -4}, {0, -10}, {-8, -5}, {-8, 4}}},
        {Star, 4, {{0, 4}, {2, -3}, {-3, 1}, {3, 1}, {-2, -3}}},
        {Star, 10, {{0, 10}, {5, -8}, {-9, 3}, {9, 3}, {-5, -8}}},
    };
    for (const VertexCase& c : cases) {
        EXPECT_EQ(VertexOffsets(c.kind, c.size), c.offsets)
            << "kind " << c.kind << " size " << c.size;
    }
}

TEST(ShapeGeometry, TriangleAroundACentre) {
    POINT v[kMaxVertices];
    ASSERT_EQ(PolygonVertices(Triangle, 50, 50, 10, v), 3);
    const Offsets corners{{v[0].x, v[0].y}, {v[1].x, v[1].y}, {v[2].x, v[2].y}};
    EXPECT_EQ(corners, (Offsets{{50, 60}, {58, 46}, {42, 45}}));
}

TEST(ShapeGeometry, TabledAndComputedSizesAgree) {
    // Sizes past the table are computed directly; the two paths must agree where they meet and
    // keep the shapes' symmetries (the 180-degree corner lies exactly s from the centre).
    for (int s : {63, 64, 65, 100, 1000}) {
        const Offsets hexagon = VertexOffsets(Hexagon, s);
        EXPECT_EQ(hexagon[0], std::make_pair(0, s));
        EXPECT_EQ(hexagon[3], std::make_pair(0, -s));
        const Offsets square = VertexOffsets(Square, s);
        EXPECT_EQ(square[0].first, square[0].second);
        EXPECT_EQ(square[2], std::make_pair(-square[0].first, -square[0].second));
    }
}

TEST(ShapeGeometry, OnlyPolygonKindsHaveVertices) {
    POINT v[kMaxVertices];
    const std::pair<int, int> expected[] = {{-1, 0},     {Circle, 0},   {Triangle, 3},
                                            {Square, 4}, {Pentagon, 5}, {Hexagon, 6},
                                            {Star, 5},   {6, 0},        {9, 0}};
    for (const auto& [kind, count] : expected) {
        EXPECT_EQ(PolygonVertices(kind, 0, 0, 8, v), count) << "kind " << kind;
    }
}

TEST(ShapeGeometry, CircleBoxUsesHalfTheSizeTruncated) {
    struct Case {
        int size;
        RECT box;
    };
    for (const Case& c : {Case{4, {8, 8, 12, 12}},
                          {5, {8, 8, 12, 12}},
                          {10, {5, 5, 15, 15}},
                          {11, {5, 5, 15, 15}},
                          {1, {10, 10, 10, 10}}}) {
        const RECT box = CircleBox(10, 10, c.size);
        EXPECT_EQ(std::vector<LONG>({box.left, box.top, box.right, box.bottom}),
                  std::vector<LONG>({c.box.left, c.box.top, c.box.right, c.box.bottom}))
            << "size " << c.size;
    }
}

TEST(ShapeGeometry, HugeSizesStayWithin32Bits) {
    POINT v[kMaxVertices];
    ASSERT_EQ(PolygonVertices(Hexagon, 2147483000, -2147483000, 2147483647, v), 6);
    EXPECT_EQ(v[0].y, 647);        // y + s fits
    EXPECT_EQ(v[1].x, INT32_MAX);  // x + 0.866 s does not: it saturates
    EXPECT_EQ(v[3].y, INT32_MIN);
    const RECT box = CircleBox(2147483000, 0, 2147483647);
    EXPECT_EQ(box.right, INT32_MAX);
}

}  // namespace
