// Prints every shape's geometry at every size a host offers (the command-line tool's go up to
// 200), one line per kind and size. Built natively and for wasm: the
// two outputs must be identical, or the two libms put some vertex on another pixel.
#include <cstdio>

#include "render/shape_drawing.h"
#include "settings/settings.h"

int main() {
    for (int kind = Circle; kind <= Star; ++kind) {
        for (int size = 0; size <= 200; ++size) {
            std::printf("%d %d:", kind, size);
            if (kind == Circle) {
                const RECT box = CircleBox(0, 0, size);
                std::printf(" %ld %ld %ld %ld", static_cast<long>(box.left),
                            static_cast<long>(box.top), static_cast<long>(box.right),
                            static_cast<long>(box.bottom));
            } else {
                POINT vertices[kMaxVertices];
                const int count = PolygonVertices(kind, 0, 0, size, vertices);
                for (int k = 0; k < count; ++k) {
                    std::printf(" %ld,%ld", static_cast<long>(vertices[k].x),
                                static_cast<long>(vertices[k].y));
                }
            }
            std::printf("\n");
        }
    }
    return 0;
}
