#include "render/band_run.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "raster/raster.h"
#include "render/shape_drawing.h"
#include "render/stipple_pass.h"

namespace {

// Rows of a band, at most: a thread's band buffer stays small, progress comes often enough, and
// a shape that crosses into the next band (drawn twice, clipped each time) stays the exception.
constexpr std::int64_t kMaxBandRows = 256;
constexpr std::int64_t kMinBandRows = 32;
// Shapes a thread places and colours at a time: parts big enough to be worth handing out, small
// enough that the last one does not keep the others waiting.
constexpr std::size_t kShapesPerPart = 1 << 16;
// How far ahead a band asks for a later shape: the shapes of a band lie all over the list, so each
// is a likely cache miss, and drawing one takes too long for the processor to reach the next
// one's read by itself.
constexpr std::size_t kAhead = 8;

// Runs `work(part, worker)` for every part in [0, parts) on up to `threads` workers, the caller
// (worker 0) among them, each taking the next part as it is free; `done(parts done)` runs on the
// caller's thread after each part it did. A thread the system will not give only means fewer
// hands.
template <typename Work, typename Done>
void ShareOut(unsigned threads, int parts, const Work& work, const Done& done) {
    std::atomic<int> next{0}, finished{0};
    const auto take = [&](unsigned worker) {
        for (int part = next++; part < parts; part = next++) {
            work(part, worker);
            const int count = ++finished;
            if (worker == 0) done(count);
        }
    };
    if (parts <= 0) return;
    const unsigned workers = std::min<unsigned>(threads, parts);
    std::vector<std::thread> pool;
    pool.reserve(workers - 1);
    for (unsigned t = 1; t < workers; ++t) {
        try {
            pool.emplace_back(take, t);
        } catch (const std::system_error&) {
            break;
        }
    }
    take(0u);
    for (std::thread& thread : pool) thread.join();
}

// The drawing rows [top, bottom] a shape can paint: every vertex and the circle's box lie within
// its size of the centre, and the outline within one pixel of them.
struct RowSpan {
    std::int64_t top;
    std::int64_t bottom;
};

RowSpan RowsOf(const PlacedShape& shape) {
    const std::int64_t reach = std::abs(std::int64_t{shape.size}) + 1;
    return {shape.y - reach, shape.y + reach};
}

// Which shapes each band draws, in list order: the indices of band b are
// shapes[start[b]] .. shapes[start[b + 1] - 1].
struct BandIndex {
    std::vector<std::size_t> start;
    RunArray<std::uint32_t> shapes;
};

// The list's shapes [first, last): its parts are made, counted and filed on every thread.
struct ListPart {
    std::size_t first;
    std::size_t last;
};

int PartCount(const ShapeList& shapes) {
    return static_cast<int>((shapes.size() + kShapesPerPart - 1) / kShapesPerPart);
}

ListPart Part(const ShapeList& shapes, int part) {
    const std::size_t first = static_cast<std::size_t>(part) * kShapesPerPart;
    return {first, std::min(first + kShapesPerPart, shapes.size())};
}

// Places and colours the part's shapes.
void PlacePart(const StippleSettings& settings, const ImageSize& size, const StippleHost& host,
               std::uint32_t seed, ShapeList& shapes, ListPart part) {
    // Every shape takes the same number of draws (x, y, and the size unless the sizes are equal),
    // so each part starts from the generator moved on past the shapes before it.
    const int draws = settings.maxSize != settings.minSize ? 3 : 2;
    StippleRandom random(seed);
    random.Skip(std::uint64_t{part.first} * draws);
    // The size carries over only while the sizes are equal, when it is minSize anyway.
    ShapePlacement placement{0, 0, settings.minSize};
    for (std::size_t i = part.first; i < part.last; ++i) {
        placement = NextPlacement(random, size, settings, placement.size);
        shapes[i] = {placement.x, placement.y, placement.size, 0};
    }
    // The colours after all the places: the reads, each a likely cache miss in the host's image,
    // then run back to back and overlap.
    for (std::size_t i = part.first; i < part.last; ++i) {
        PlacedShape& shape = shapes[i];
        // The row after the centre's own: the way the filter has always picked colours.
        const SourceColour c = SampleSourcePixel(host, size, shape.x, size.height - shape.y);
        shape.colour = c.red | c.green << 8 | c.blue << 16;
    }
}

// Files the list's shapes under the bands they touch. Each part counts its shapes in every band
// while they are fresh from being made; the counts then give each part its own places in each
// band, after the parts before it, so that each part files its shapes on its own thread and every
// band still lists them in list order.
class BandFiler {
public:
    BandFiler(std::int64_t bandRows, int bands, int parts)
        : bandRows_(bandRows), bands_(bands), next_(static_cast<std::size_t>(parts) * bands, 0) {}

    // Each part counts and files with its slots in a copy of its own: neighbouring parts' slots
    // share cache lines, which two threads bumping them at every shape would pass to and fro.
    void Count(const ShapeList& shapes, int part) {
        std::vector<std::size_t> counts(bands_, 0);
        ForEachBand(shapes, Part(shapes, part), [&](std::size_t, int b) { ++counts[b]; });
        std::copy(counts.begin(), counts.end(), Slots(part));
    }

    // Once every part is counted.
    void MakeRoom(BandIndex& index) {
        const int parts = static_cast<int>(next_.size() / bands_);
        index.start.assign(static_cast<std::size_t>(bands_) + 1, 0);
        std::size_t filed = 0;
        for (int b = 0; b < bands_; ++b) {
            index.start[b] = filed;
            for (int part = 0; part < parts; ++part) filed += std::exchange(Slots(part)[b], filed);
        }
        index.start[bands_] = filed;
        index.shapes.resize(filed);
    }

    void File(const ShapeList& shapes, int part, BandIndex& index) {
        std::vector<std::size_t> places(Slots(part), Slots(part) + bands_);
        ForEachBand(shapes, Part(shapes, part), [&](std::size_t i, int b) {
            index.shapes[places[b]++] = static_cast<std::uint32_t>(i);
        });
    }

private:
    std::size_t* Slots(int part) { return next_.data() + std::ptrdiff_t{part} * bands_; }

    template <typename Visit>
    void ForEachBand(const ShapeList& shapes, ListPart part, const Visit& visit) const {
        for (std::size_t i = part.first; i < part.last; ++i) {
            const RowSpan rows = RowsOf(shapes[i]);
            for (int b = BandOf(rows.top); b <= BandOf(rows.bottom); ++b) visit(i, b);
        }
    }

    int BandOf(std::int64_t row) const {
        return static_cast<int>(std::clamp<std::int64_t>(row / bandRows_, 0, bands_ - 1));
    }

    std::int64_t bandRows_;
    int bands_;
    // next_[part * bands + b]: the part's count of shapes in band b, then where it files the next.
    std::vector<std::size_t> next_;
};

// One shape as the plug-in's pen and brush of its colour draw it, moved up by `rowOffset` rows.
// The rasteriser's integer arithmetic commutes with whole-pixel moves, so the pixels are the
// canvas's own, moved.
void DrawPlaced(const raster::Surface& surface, const PlacedShape& shape, int kind,
                std::int64_t rowOffset, raster::Colour colour) {
    const auto row = [&](LONG y) { return static_cast<std::int32_t>(y - rowOffset); };
    if (kind == Circle) {
        const RECT box = CircleBox(shape.x, shape.y, shape.size);
        raster::DrawEllipse(surface, box.left, row(box.top), box.right, row(box.bottom), colour,
                            colour);
        return;
    }
    POINT vertices[kMaxVertices];
    const int count = PolygonVertices(kind, shape.x, shape.y, shape.size, vertices);
    raster::Point points[kMaxVertices];
    for (int k = 0; k < count; ++k) points[k] = {vertices[k].x, row(vertices[k].y)};
    if (count > 0) {
        raster::DrawPolygon(surface, points, count, raster::FillMode::Winding, colour, colour);
    }
}

struct BandJob {
    const StippleSettings& settings;
    const ImageSize& size;
    const StippleHost& host;
    const ShapeList& shapes;
    const BandIndex& index;
    std::int64_t bandRows;
    int bands;
    std::size_t rowBytes;
};

// Band b covers drawing rows [b * bandRows, ...), which are host rows counted from the bottom.
// It is drawn on the host's own rows where it lends them, else in `buffer` between a read and a
// write of every row.
void RunBand(const BandJob& job, int band, std::uint8_t* buffer) {
    const std::int64_t height = job.size.height;
    const std::int64_t first = band * job.bandRows;  // drawing rows first .. last - 1
    const std::int64_t last = std::min(first + job.bandRows, height);
    const int rows = static_cast<int>(last - first);
    const int firstHostRow = static_cast<int>(height - last);
    const int lastColumn = job.size.width - 1;
    const HostRows& inPlace = job.host.rows;
    const std::ptrdiff_t stride = inPlace.top != nullptr ? inPlace.stride : job.rowBytes;
    std::uint8_t* const top = inPlace.top != nullptr ? inPlace.top + firstHostRow * stride : buffer;
    if (job.settings.clearFirst != 0) {
        // White, or for any other value the fresh bitmap's black.
        for (int r = 0; r < rows; ++r) {
            std::memset(top + r * stride, job.settings.clearFirst == 1 ? 0xFF : 0, job.rowBytes);
        }
    } else if (inPlace.top == nullptr) {
        for (int r = 0; r < rows; ++r) {
            job.host.readRow(job.host.context, firstHostRow + r, 0, lastColumn, top + r * stride);
        }
    }
    // Drawing row `first` is the band's last host row: the surface runs bottom-up, as the
    // plug-in's canvas does.
    const raster::Surface surface{top + (rows - 1) * stride, -stride, job.size.width, rows};
    // The rasteriser writes a colour's blue first; rows that hold red first get it the other way.
    const auto colour = [redFirst = inPlace.redFirst](std::uint32_t c) {
        return redFirst ? (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF) : c;
    };
    const std::size_t end = job.index.start[band + 1];
    for (std::size_t i = job.index.start[band]; i < end; ++i) {
        if (i + kAhead < end) __builtin_prefetch(&job.shapes[job.index.shapes[i + kAhead]]);
        const PlacedShape& shape = job.shapes[job.index.shapes[i]];
        DrawPlaced(surface, shape, job.settings.shape, first, colour(shape.colour));
    }
    if (inPlace.top != nullptr) return;
    for (int r = 0; r < rows; ++r) {
        job.host.writeRow(job.host.context, firstHostRow + r, 0, lastColumn, top + r * stride);
    }
}

// Room for the run's shapes, unset.
ShapeList UnplacedShapes(const StippleSettings& settings, const ImageSize& size) {
    const std::int64_t count =
        ShapeCount(size.width, size.height, settings.density, settings.minSize);
    if (count > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    return ShapeList(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
}

}  // namespace

ShapeList MakeShapeList(const StippleSettings& settings, const ImageSize& size,
                        const StippleHost& host, std::uint32_t seed, unsigned threads) {
    ShapeList shapes = UnplacedShapes(settings, size);
    ShareOut(
        std::max(threads, 1u), PartCount(shapes),
        [&](int part, unsigned) {
            PlacePart(settings, size, host, seed, shapes, Part(shapes, part));
        },
        [](int) {});
    return shapes;
}

RunStatus RunStippleInBands(const StippleSettings& settings, const ImageSize& size,
                            const StippleHost& host, std::uint32_t seed, unsigned threads) {
    if (size.width < 0 || size.height < 0) return RunStatus::SizeRefused;
    if (size.width > 0 && size.height > 0) {
        threads = std::max(threads, 1u);
        const std::int64_t height = size.height;
        const std::int64_t bandRows = std::clamp<std::int64_t>(
            (height + threads * 8 - 1) / (threads * 8), kMinBandRows, kMaxBandRows);
        const int bands = static_cast<int>((height + bandRows - 1) / bandRows);
        threads = std::min<unsigned>(threads, bands);
        const std::size_t rowBytes = static_cast<std::size_t>(size.width) * 3;
        try {
            ShapeList shapes = UnplacedShapes(settings, size);
            const int parts = PartCount(shapes);
            BandFiler filer(bandRows, bands, parts);
            ShareOut(
                threads, parts,
                [&](int part, unsigned) {
                    PlacePart(settings, size, host, seed, shapes, Part(shapes, part));
                    filer.Count(shapes, part);
                },
                [](int) {});
            BandIndex index;
            filer.MakeRoom(index);
            ShareOut(
                threads, parts, [&](int part, unsigned) { filer.File(shapes, part, index); },
                [](int) {});
            std::vector<RunArray<std::uint8_t>> buffers(threads);
            if (host.rows.top == nullptr) {
                for (auto& buffer : buffers) buffer.resize(bandRows * rowBytes);
            }

            const BandJob job{settings, size, host, shapes, index, bandRows, bands, rowBytes};
            int reported = -1;
            // The bands from the top down, as a host passing rows on wants them; `finished`
            // counts those done with every band above them done too.
            std::mutex order;
            std::vector<bool> done(bands, false);
            int finished = 0;
            ShareOut(
                threads, bands,
                [&](int k, unsigned worker) {
                    RunBand(job, bands - 1 - k, buffers[worker].data());
                    if (host.rowsFinal == nullptr) return;
                    const std::lock_guard<std::mutex> lock(order);
                    done[k] = true;
                    if (!done[finished]) return;
                    while (finished < bands && done[finished]) ++finished;
                    const std::int64_t below = (bands - finished) * bandRows;
                    host.rowsFinal(host.context,
                                   static_cast<int>(height - std::min(below, height)));
                },
                [&](int done) {
                    const int percent = static_cast<int>(std::int64_t{done} * 100 / bands);
                    if (percent < kProgressDone && percent > reported) {
                        host.progress(host.context, percent);
                        reported = percent;
                    }
                });
        } catch (const std::bad_alloc&) {
            return RunStatus::OutOfMemory;
        }
    }
    host.progress(host.context, kProgressDone);
    return RunStatus::Done;
}
