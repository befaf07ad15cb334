#include "embed/stipple_svg.h"

#include <charconv>
#include <new>

#include "embed/buffer_host.h"
#include "render/band_run.h"
#include "render/shape_drawing.h"

namespace {

// Appends integers and short texts with no allocation per number: a 12-megapixel run has about
// a million shapes.
class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    Writer& operator<<(std::string_view text) {
        out_ += text;
        return *this;
    }
    Writer& operator<<(std::int64_t value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out_.append(digits, end);
        return *this;
    }
    Writer& Colour(std::uint32_t colour) {  // COLORREF as #rrggbb
        constexpr char kHex[] = "0123456789abcdef";
        char text[7] = {'#'};
        for (int byte = 0; byte < 3; ++byte) {
            const unsigned value = colour >> (8 * byte) & 0xFF;
            text[1 + 2 * byte] = kHex[value >> 4];
            text[2 + 2 * byte] = kHex[value & 15];
        }
        out_.append(text, 7);
        return *this;
    }

private:
    std::string& out_;
};

// Drawing row d is picture row height - 1 - d, as on the plug-in's bottom-up canvas. A circle's
// box covers pixels left .. right - 1 and drawing rows top .. bottom - 1, so its centre in the
// picture's own coordinates is (x, height - y), its radius half the box.
void WriteCircle(Writer& out, const PlacedShape& shape, std::int64_t height) {
    const RECT box = CircleBox(shape.x, shape.y, shape.size);
    out << "<circle cx=\"" << (std::int64_t{box.left} + box.right) / 2 << "\" cy=\""
        << height - (std::int64_t{box.top} + box.bottom) / 2 << "\" r=\""
        << (std::int64_t{box.right} - box.left) / 2 << "\" fill=\"";
    out.Colour(shape.colour) << "\"/>\n";
}

// A polygon's vertices are pixels of its outline: their centres, (vx + 0.5, row + 0.5), are the
// document's vertices. The group the polygons stand in moves them by half a pixel, so the path
// itself holds whole numbers.
void WritePolygon(Writer& out, const PlacedShape& shape, int kind, std::int64_t height) {
    POINT vertices[kMaxVertices];
    const int count = PolygonVertices(kind, shape.x, shape.y, shape.size, vertices);
    if (count == 0) return;
    out << "<path fill=\"";
    out.Colour(shape.colour) << "\" d=\"M";
    for (int k = 0; k < count; ++k) {
        out << " " << std::int64_t{vertices[k].x} << " " << height - 1 - vertices[k].y;
    }
    out << "z\"/>\n";
}

}  // namespace

StippleResult StippleSvg(const PixelBuffer& source, const StippleSettings& settings,
                         std::uint32_t seed, const SvgOptions& options, std::string& svg,
                         const SettingsLimits& limits) {
    StippleResult result = CheckCall(source, settings, limits);
    if (!result.done()) return result;
    const StippleProgress noProgress;
    BufferHost host(source, noProgress);
    const ImageSize size{source.width, source.height};
    try {
        const ShapeList shapes = source.width > 0 && source.height > 0
                                     ? MakeShapeList(settings, size, host.host(), seed)
                                     : ShapeList{};
        svg.clear();
        svg.reserve(256 + shapes.size() * 48);
        Writer out(svg);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" "
               "xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.1\" width=\""
            << std::int64_t{size.width} << "\" height=\"" << std::int64_t{size.height}
            << "\" viewBox=\"0 0 " << std::int64_t{size.width} << " " << std::int64_t{size.height}
            << "\">\n";
        if (options.background && settings.clearFirst == 1) {
            out << "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
        } else if (options.background && !options.pictureHref.empty()) {
            out << "<image width=\"" << std::int64_t{size.width} << "\" height=\""
                << std::int64_t{size.height} << "\" xlink:href=\"" << options.pictureHref
                << "\"/>\n";
        }
        const bool circles = settings.shape == Circle;
        out << (circles ? "<g>\n" : "<g transform=\"translate(.5 .5)\">\n");
        for (const PlacedShape& shape : shapes) {
            if (circles) {
                WriteCircle(out, shape, size.height);
            } else {
                WritePolygon(out, shape, settings.shape, size.height);
            }
        }
        out << "</g>\n</svg>\n";
    } catch (const std::bad_alloc&) {
        result.status = StippleStatus::OutOfMemory;
    }
    return result;
}
