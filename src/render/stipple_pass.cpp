#include "render/stipple_pass.h"

void RunStipplePass(HDC, const ImageSize&, RowProc*, HWND, const StippleSettings&, std::uint32_t) {
    // The shapes land here next; until then the canvas goes back as it came.
}
