// A whole filter run, as the plug-in's FilterProc runs it, with arbitrary settings (all five fields
// take any 32-bit value), small images of any shape including none, 0 and 1 pixels either way and
// negative sizes, any seed, and now and then one of the stand-in's resources refused. The run
// must keep its promises to the host: it asks only for pixels inside the image, gives back every
// row or none, reports progress in order and ends with the done message exactly when it returns
// 1, and leaves no object alive.
//
// Input, little-endian, missing bytes read as 0: clearFirst, minSize, maxSize, density, shape
// (int32 each), width and height (one byte each, -2..40), seed (uint32), the resource to refuse
// (one byte; 6 and above: none) and which request of it (one byte, 1..64).
//
// The runs stay cheap, a few milliseconds at most under the sanitizers: the shapes are what cost,
// so inputs are skipped whose shape count passes kMaxShapes or whose count times the cost of one
// shape passes kMaxWork. Every field still takes every value; only the combinations that would
// draw too much are left out.
#include <algorithm>
#include <vector>

#include "common/recording_host.h"
#include "fuzz_support.h"
#include "plugin/win32_host.h"
#include "render/stipple_pass.h"
#include "standin/resources.h"

namespace {

constexpr std::int64_t kMaxShapes = 128;
constexpr std::int64_t kMaxWork = 8192;
constexpr int kResourceKinds = static_cast<int>(standin::Resource::Count);

// The stand-in's resources a run cannot go on without; pens and brushes only colour a shape.
bool RunNeeds(standin::Resource kind) {
    return kind != standin::Resource::Pen && kind != standin::Resource::Brush;
}

// The largest shape size a run can draw: minSize plus less than the spread, which the 15-bit
// generator keeps below 32768.
std::int64_t LargestSize(const StippleSettings& s) {
    const std::int64_t spread = std::int64_t{s.maxSize} - s.minSize;
    return s.minSize + std::min<std::int64_t>(spread < 0 ? -spread : spread, 32767);
}

// What one shape costs, roughly in steps of its outline. A circle's outline is walked whole, off
// the canvas too, up to the size beyond which the rasteriser draws no ellipse at all; a polygon is
// clipped to the canvas first, so past a certain size a larger one costs no more.
std::int64_t ShapeCost(const StippleSettings& s) {
    const std::int64_t size = std::max<std::int64_t>(LargestSize(s), 1);
    if (s.shape == Circle) return size > (1 << 17) + 1 ? 1 : size;
    if (s.shape >= Triangle && s.shape <= Star) return std::min<std::int64_t>(size, 1024);
    return 1;  // no shape is drawn
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    StippleSettings settings{};
    settings.clearFirst = input.Int32();
    settings.minSize = input.Int32();
    settings.maxSize = input.Int32();
    settings.density = input.Int32();
    settings.shape = input.Int32();
    const int width = input.InRange(-2, 40);
    const int height = input.InRange(-2, 40);
    const std::uint32_t seed = input.Uint32();
    const int kind = input.Byte();
    const int nth = input.InRange(1, 64);

    const std::int64_t shapes = ShapeCount(width, height, settings.density, settings.minSize);
    if (shapes > kMaxShapes || shapes * ShapeCost(settings) > kMaxWork) return 0;

    RecordingHost host(width, height);
    const std::vector<BYTE> original = host.image;
    standin::ClearFailures();
    if (kind < kResourceKinds) standin::FailNth(static_cast<standin::Resource>(kind), nth);
    const int result =
        RunFilterWith(settings, host.window, &host.size, &host.writer, &host.reader, seed);
    const bool refused =
        kind < kResourceKinds && !standin::FailurePending(static_cast<standin::Resource>(kind));
    standin::ClearFailures();

    FUZZ_CHECK(standin::LiveObjects() == 0);
    const bool fails =
        width < 0 || height < 0 || (refused && RunNeeds(static_cast<standin::Resource>(kind)));
    FUZZ_CHECK(result == (fails ? 0 : 1));

    // Only pixels of the image are asked for: whole rows, or single pixels inside it.
    std::vector<RowCall> writes;
    for (const RowCall& call : host.rowCalls) {
        FUZZ_CHECK(call.row >= 0 && call.row < height);
        const bool wholeRow = call.first == 0 && call.last == width - 1;
        const bool onePixel = call.first == call.last && call.first >= 0 && call.first < width;
        FUZZ_CHECK(wholeRow || (!call.write && onePixel));
        if (call.write) writes.push_back(call);
    }

    if (result == 0) {
        FUZZ_CHECK(host.rowCalls.empty());
        FUZZ_CHECK(host.messages.empty());
        return 0;
    }
    // Every row once, in order, after everything was read.
    FUZZ_CHECK(static_cast<int>(writes.size()) == height);
    for (int row = 0; row < height; ++row) FUZZ_CHECK(writes[row].row == row);
    const auto firstWrite = std::find_if(host.rowCalls.begin(), host.rowCalls.end(),
                                         [](const RowCall& call) { return call.write; });
    FUZZ_CHECK(std::all_of(firstWrite, host.rowCalls.end(),
                           [](const RowCall& call) { return call.write; }));

    // Progress: percentages 0..99, never going back, then the done message once.
    FUZZ_CHECK(!host.messages.empty());
    FUZZ_CHECK(host.messages.back() == (HostMessage{WM_USER, PROGRESS_DONE, 0}));
    LPARAM last = 0;
    for (std::size_t i = 0; i + 1 < host.messages.size(); ++i) {
        const HostMessage& m = host.messages[i];
        FUZZ_CHECK(m.message == WM_USER && m.wParam == PROGRESS_PERCENT);
        FUZZ_CHECK(m.lParam >= last && m.lParam <= 99);
        last = m.lParam;
    }

    // With nothing drawn, the image comes back as it was or white.
    if (shapes <= 0 && !refused) {
        if (settings.clearFirst == 0) FUZZ_CHECK(host.image == original);
        if (settings.clearFirst == 1) {
            FUZZ_CHECK(std::all_of(host.image.begin(), host.image.end(),
                                   [](BYTE b) { return b == 0xFF; }));
        }
    }
    return 0;
}
