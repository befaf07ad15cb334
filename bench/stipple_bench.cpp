// What a filter run costs per shape on Linux, beside a peer rasteriser drawing the same shapes
// and the floor of merely writing their pixels. Prints Google Benchmark's results, then a table of
// medians with the ratios run/floor and Cairo/run.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugin/win32_host.h"
#include "render/canvas.h"
#include "render/shape_drawing.h"
#include "render/stipple_pass.h"
#include "standin/host_window.h"

namespace {

constexpr std::uint32_t kSeed = 1;

struct Scenario {
    int width;
    int height;
    int shape;
};

std::string Name(const Scenario& s) {
    return std::to_string(s.width) + "x" + std::to_string(s.height) +
           (s.shape == Circle ? "/circle" : "/star");
}

// A smooth source with edges, the kind of picture the filter is for.
std::vector<BYTE> SourceImage(int width, int height) {
    std::vector<BYTE> image(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            BYTE* p = &image[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<BYTE>(x * 255 / width);
            p[1] = static_cast<BYTE>((x / 64 + y / 64) % 2 ? 180 : 60);
            p[2] = static_cast<BYTE>(y * 255 / height);
        }
    }
    return image;
}

// The host side of a run: rows come from the source and go to a separate result.
struct Host {
    const std::vector<BYTE>* source;
    std::vector<BYTE>* result;
    int width;
};
Host host;

int WINAPI ReadRow(int row, int first, int last, BYTE* buffer, int) {
    std::memcpy(buffer,
                host.source->data() + (static_cast<std::size_t>(row) * host.width + first) * 3,
                (last - first + 1) * 3u);
    return 1;
}

int WINAPI WriteRow(int row, int first, int last, BYTE* buffer, int) {
    std::memcpy(host.result->data() + (static_cast<std::size_t>(row) * host.width + first) * 3,
                buffer, (last - first + 1) * 3u);
    return 1;
}

StippleSettings SettingsFor(const Scenario& s) {
    StippleSettings settings = kDefaultSettings;
    settings.shape = s.shape;
    return settings;
}

// The shapes a run draws, replayed from the same generator: centre, size and colour.
struct PlacedShape {
    int x, y, size;
    SourceColour colour;
};

// The run's own reads, for the parts of the pass timed apart from the run.
void ReadPixels(void*, int row, int first, int last, BYTE* buffer) {
    ReadRow(row, first, last, buffer, -1);
}
constexpr StippleHost kReader{nullptr, &ReadPixels, nullptr, nullptr};

std::vector<PlacedShape> ShapeList(const Scenario& s, const std::vector<BYTE>& source) {
    host = {&source, nullptr, s.width};
    const ImageSize size{s.width, s.height};
    const StippleSettings settings = SettingsFor(s);
    StippleRandom random(kSeed);
    std::vector<PlacedShape> shapes;
    ShapePlacement placement{0, 0, settings.minSize};
    const std::int64_t count = ShapeCount(s.width, s.height, settings.density, settings.minSize);
    for (std::int64_t i = 0; i < count; ++i) {
        placement = NextPlacement(random, size, settings, placement.size);
        shapes.push_back({placement.x, placement.y, placement.size,
                          SampleSourcePixel(kReader, size, placement.x, s.height - placement.y)});
    }
    return shapes;
}

void Report(benchmark::State& state, std::size_t shapes) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * shapes));
    state.counters["shapes"] = static_cast<double>(shapes);
}

// Whole runs with these settings, timed per shape of the scenario's own run.
void TimeRuns(benchmark::State& state, Scenario s, const StippleSettings& settings) {
    const std::vector<BYTE> source = SourceImage(s.width, s.height);
    std::vector<BYTE> result(source.size());
    host = {&source, &result, s.width};
    RowProc reader = &ReadRow, writer = &WriteRow;
    StandinWindow progress{};
    const ImageSize size{s.width, s.height};
    for (auto _ : state) {
        RunFilterWith(settings, &progress, &size, &writer, &reader, kSeed);
        benchmark::DoNotOptimize(result.data());
    }
    const StippleSettings scenario = SettingsFor(s);
    Report(state, ShapeCount(s.width, s.height, scenario.density, scenario.minSize));
}

void WholeRun(benchmark::State& state, Scenario s) { TimeRuns(state, s, SettingsFor(s)); }

void CairoPeer(benchmark::State& state, Scenario s) {
    const std::vector<PlacedShape> shapes = ShapeList(s, SourceImage(s.width, s.height));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, s.width, s.height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    for (auto _ : state) {
        for (const PlacedShape& shape : shapes) {
            cairo_set_source_rgb(cr, shape.colour.red / 255.0, shape.colour.green / 255.0,
                                 shape.colour.blue / 255.0);
            if (s.shape == Circle) {
                cairo_arc(cr, shape.x, shape.y, shape.size / 2, 0, 6.283185307179586);
            } else {
                POINT v[kMaxVertices];
                const int n = PolygonVertices(s.shape, shape.x, shape.y, shape.size, v);
                cairo_move_to(cr, v[0].x, v[0].y);
                for (int k = 1; k < n; ++k) cairo_line_to(cr, v[k].x, v[k].y);
                cairo_close_path(cr);
            }
            cairo_fill(cr);
        }
        cairo_surface_flush(surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    Report(state, shapes.size());
}

// Writing as many pixels per shape as a filled square of its size covers, at the same places,
// into a canvas laid out like the run's: the least any rasteriser must do.
void MemoryFloor(benchmark::State& state, Scenario s) {
    const std::vector<PlacedShape> shapes = ShapeList(s, SourceImage(s.width, s.height));
    const int canvasWidth = static_cast<int>(CanvasWidth(s.width));
    std::vector<BYTE> canvas(static_cast<std::size_t>(canvasWidth) * s.height * 3);
    for (auto _ : state) {
        for (const PlacedShape& shape : shapes) {
            const BYTE bgr[3] = {shape.colour.blue, shape.colour.green, shape.colour.red};
            const int left = std::max(shape.x - shape.size / 2, 0);
            const int right = std::min(shape.x - shape.size / 2 + shape.size, s.width);
            const int top = std::max(shape.y - shape.size / 2, 0);
            const int bottom = std::min(shape.y - shape.size / 2 + shape.size, s.height);
            for (int y = top; y < bottom; ++y) {
                BYTE* p = &canvas[(static_cast<std::size_t>(y) * canvasWidth + left) * 3];
                for (int x = left; x < right; ++x, p += 3) std::memcpy(p, bgr, 3);
            }
        }
        benchmark::DoNotOptimize(canvas.data());
    }
    Report(state, shapes.size());
}

// Where a run's time goes: each part of the pass on its own, over the run's own shapes.

// The host's reads alone: the generator's places and one pixel read per shape, as the pass does.
void ReadsOnly(benchmark::State& state, Scenario s) {
    const std::vector<BYTE> source = SourceImage(s.width, s.height);
    host = {&source, nullptr, s.width};
    const ImageSize size{s.width, s.height};
    const StippleSettings settings = SettingsFor(s);
    const std::int64_t count = ShapeCount(s.width, s.height, settings.density, settings.minSize);
    for (auto _ : state) {
        StippleRandom random(kSeed);
        ShapePlacement placement{0, 0, settings.minSize};
        unsigned sum = 0;
        for (std::int64_t i = 0; i < count; ++i) {
            placement = NextPlacement(random, size, settings, placement.size);
            sum += SampleSourcePixel(kReader, size, placement.x, s.height - placement.y).red;
        }
        benchmark::DoNotOptimize(sum);
    }
    Report(state, static_cast<std::size_t>(count));
}

// Calls draw() with a pen and a brush of the colour selected, as the pass does around a shape.
template <class Draw>
void WithPenAndBrush(HDC dc, COLORREF colour, Draw&& draw) {
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ previousPen = SelectObject(dc, pen);
    HGDIOBJ previousBrush = SelectObject(dc, brush);
    draw();
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

// A pen and a brush per shape, created, selected, restored and deleted, with nothing drawn.
void ObjectsOnly(benchmark::State& state, Scenario s) {
    const std::vector<PlacedShape> shapes = ShapeList(s, SourceImage(s.width, s.height));
    StippleCanvas canvas;
    if (!CreateCanvas(canvas, s.width, s.height)) state.SkipWithError("no canvas");
    for (auto _ : state) {
        for (const PlacedShape& shape : shapes) {
            WithPenAndBrush(canvas.dc, RGB(shape.colour.red, shape.colour.green, shape.colour.blue),
                            [] {});
        }
    }
    ReleaseCanvas(canvas);
    Report(state, shapes.size());
}

// The shapes drawn into a canvas like the run's, all with one pen and brush. With `fold` above 0
// their places are folded into a fold x fold corner whose pixels stay in cache: what drawing
// costs without the memory traffic of places spread over the canvas.
void TimeDrawing(benchmark::State& state, Scenario s, int fold) {
    std::vector<PlacedShape> shapes = ShapeList(s, SourceImage(s.width, s.height));
    if (fold > 0) {
        for (PlacedShape& shape : shapes) {
            shape.x %= fold;
            shape.y %= fold;
        }
    }
    StippleCanvas canvas;
    if (!CreateCanvas(canvas, s.width, s.height)) state.SkipWithError("no canvas");
    WithPenAndBrush(canvas.dc, 0x336699, [&] {
        for (auto _ : state) {
            for (const PlacedShape& shape : shapes) {
                DrawShape(canvas.dc, shape.x, shape.y, shape.size, s.shape);
            }
            benchmark::DoNotOptimize(canvas.bits);
        }
    });
    ReleaseCanvas(canvas);
    Report(state, shapes.size());
}

void DrawingOnly(benchmark::State& state, Scenario s) { TimeDrawing(state, s, 0); }
void DrawingInCache(benchmark::State& state, Scenario s) { TimeDrawing(state, s, 200); }

// A run with no shapes: canvas made, rows read in and written back, spread over the run's shapes.
void RowsOnly(benchmark::State& state, Scenario s) {
    StippleSettings noShapes = SettingsFor(s);
    noShapes.density = 0;
    TimeRuns(state, s, noShapes);
}

// Collects the medians for the summary table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    TableReporter() : ConsoleReporter(OO_Tabular) {}  // plain text: it often goes to a file

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end())
                nsPerShape[run.run_name.function_name] = 1e9 / items->second;
        }
    }
    std::map<std::string, double> nsPerShape;  // "kind/scenario" -> ns
};

}  // namespace

int main(int argc, char** argv) {
    const Scenario scenarios[] = {{640, 480, Circle}, {640, 480, Star},     {1000, 1000, Circle},
                                  {1000, 1000, Star}, {4000, 3000, Circle}, {4000, 3000, Star}};
    for (const Scenario& s : scenarios) {
        for (const auto& [kind, function] :
             {std::pair{"run", &WholeRun}, {"cairo", &CairoPeer}, {"floor", &MemoryFloor}}) {
            benchmark::RegisterBenchmark((std::string(kind) + "/" + Name(s)).c_str(), function, s)
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true)
                ->UseRealTime();
        }
    }
    const Scenario explained[] = {{1000, 1000, Circle}, {1000, 1000, Star}};
    for (const Scenario& s : explained) {
        for (const auto& [kind, function] : {std::pair{"reads", &ReadsOnly},
                                             {"objects", &ObjectsOnly},
                                             {"drawing", &DrawingOnly},
                                             {"in-cache", &DrawingInCache},
                                             {"rows", &RowsOnly}}) {
            benchmark::RegisterBenchmark((std::string(kind) + "/" + Name(s)).c_str(), function, s)
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true)
                ->UseRealTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nMedians, ns per shape (default settings, seed %u)\n", kSeed);
    std::printf("%-18s %10s %10s %10s %10s %10s\n", "scenario", "run", "floor", "cairo",
                "run/floor", "cairo/run");
    for (const Scenario& s : scenarios) {
        const std::string name = Name(s);
        auto get = [&](const char* kind) {
            const auto found = reporter.nsPerShape.find(std::string(kind) + "/" + name);
            return found == reporter.nsPerShape.end() ? 0.0 : found->second;
        };
        const double run = get("run"), floor = get("floor"), cairo = get("cairo");
        if (run == 0) continue;
        std::printf("%-18s %10.1f %10.1f %10.1f %10.2f %10.1f\n", name.c_str(), run, floor, cairo,
                    floor > 0 ? run / floor : 0.0, cairo / run);
    }

    std::printf("\nParts of a run on their own, medians, ns per shape\n");
    std::printf("%-18s %10s %10s %10s %10s %10s %10s\n", "scenario", "reads", "objects", "drawing",
                "in cache", "rows", "run");
    for (const Scenario& s : explained) {
        const std::string name = Name(s);
        auto get = [&](const char* kind) {
            const auto found = reporter.nsPerShape.find(std::string(kind) + "/" + name);
            return found == reporter.nsPerShape.end() ? 0.0 : found->second;
        };
        if (get("reads") == 0) continue;
        std::printf("%-18s %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f\n", name.c_str(), get("reads"),
                    get("objects"), get("drawing"), get("in-cache"), get("rows"), get("run"));
    }
    benchmark::Shutdown();
    return 0;
}
