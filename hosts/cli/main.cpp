// moxel: applies the stipple filter to image files.
#include <malloc.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "embed/stipple_buffer.h"
#include "embed/stipple_svg.h"
#include "image_io.h"
#include "interrupts.h"
#include "progress.h"
#include "settings/contract.h"

namespace fs = std::filesystem;

namespace {

constexpr char kVersion[] = "moxel 1.1";
constexpr int kUsageError = 2;

// Every line the tool says of itself (usage errors, warnings, failures, the batch summary) reads
// "moxel: ...", one line each.
std::string Line(const std::string& text) { return "moxel: " + text; }
void Say(const std::string& text) { std::fprintf(stderr, "%s\n", Line(text).c_str()); }

struct UsageError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw UsageError{message}; }

unsigned Cores() { return std::max(1u, std::thread::hardware_concurrency()); }

// What the command line asks for, once every option's value has been read into it.
struct Request {
    std::vector<fs::path> inputs;
    fs::path output, outDir, saveSettings;
    std::optional<ImageFormat> format;
    StippleSettings settings = kDefaultSettings;
    fs::path settingsFile;
    std::array<bool, kSettingFields.size()> fromFile{};  // which settings the file still decides
    std::optional<std::uint32_t> seed;
    unsigned jobs = Cores();
    std::optional<unsigned> threads;  // per image; unset: the cores shared among the jobs
    std::uint64_t maxMegapixels = 500;
    Rgb background;
    SaveOptions save;
    bool svgBackground = true;
    bool keepAlpha = false;
    bool force = false;  // binary images to a terminal too
    bool quiet = false, verbose = false;
};

void Set(Request& request, SettingField field, std::int32_t value) {
    const std::size_t index = static_cast<std::size_t>(field);
    request.settings.*kSettingFields[index].member = value;
    request.fromFile[index] = false;
}

// "--density: expected a whole number from 1 to 100, got 'abc'"
std::uint64_t WholeNumber(const std::string& flag, const std::string& text, std::uint64_t lowest,
                          std::uint64_t highest) {
    std::uint64_t value = 0;
    const bool valid =
        !text.empty() && text.size() <= 19 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (valid) value = std::stoull(text);
    if (!valid || value < lowest || value > highest) {
        Fail(flag + ": expected a whole number from " + std::to_string(lowest) + " to " +
             std::to_string(highest) + ", got '" + text + "'");
    }
    return value;
}

Rgb Colour(const std::string& text) {
    unsigned red, green, blue;
    char end;
    if (text.size() != 7 ||
        std::sscanf(text.c_str(), "#%2x%2x%2x%c", &red, &green, &blue, &end) != 3 ||
        text.find_first_not_of("#0123456789abcdefABCDEF") != std::string::npos) {
        Fail("--background: expected a colour as #rrggbb, got '" + text + "'");
    }
    return {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
            static_cast<std::uint8_t>(blue)};
}

// --settings takes the plug-in's file, or the directory it keeps it in. A file that is missing,
// or whose fields stop reading, is a warning and the defaults stand for what was not read, as in
// the plug-in. What was read is held to the tool's limits once the flags have had their say.
void LoadSettingsFile(Request& request, const fs::path& given) {
    std::error_code error;
    request.settingsFile = fs::is_directory(given, error) ? given / kSettingsFileName : given;
    const std::string name = request.settingsFile.string();
    std::FILE* stream = std::fopen(name.c_str(), "rt");
    if (stream == nullptr) {
        Say("warning: " + name + ": " + std::strerror(errno) + "; using the default settings");
        return;
    }
    const int count = ReadSettings(stream, request.settings);
    std::fclose(stream);
    request.fromFile = {};
    std::fill_n(request.fromFile.begin(), count, true);
    if (count < static_cast<int>(kSettingFields.size())) {
        Say("warning: " + name + ": " + std::to_string(count) + " of its " +
            std::to_string(kSettingFields.size()) + " settings read; the others are the defaults");
    }
}

// The settings as the file and the flags left them, held to the tool's limits. Flags are held to
// theirs as they are read, so a value out of range came from the file, and so did crossed sizes
// when the file gave both; sizes crossed by a flag are the flags' fault.
void HoldToToolLimits(const Request& request) {
    const std::optional<SettingsFault> fault = CheckSettings(request.settings, kToolLimits);
    if (!fault) return;
    auto fromFile = [&](SettingField field) {
        return request.fromFile[static_cast<std::size_t>(field)];
    };
    if (fault->belowMinSize &&
        !(fromFile(SettingField::MinSize) && fromFile(SettingField::MaxSize))) {
        Fail("--min-size (" + std::to_string(request.settings.minSize) +
             ") must not be above --max-size (" + std::to_string(request.settings.maxSize) + ")");
    }
    Fail(request.settingsFile.string() + ": " + DescribeFault(*fault));
}

// One option: its flags (as CLI11 takes them), the name of its value in --help (none for a
// switch, which takes no value), its help, and where its value goes once read.
struct OptionRow {
    std::string flags;
    const char* value;
    std::string help;
    std::function<void(Request&, const std::string& text)> apply;
};

// The name messages give an option: its first long one ("-j,--jobs": "--jobs").
std::string LongName(const std::string& flags) {
    const std::size_t at = flags.find("--");
    return flags.substr(at, flags.find(',', at) - at);
}

// A whole number held to `lowest..highest`, which its help states with its default.
template <typename Store>
OptionRow Number(const std::string& flags, const std::string& what, std::uint64_t lowest,
                 std::uint64_t highest, const std::string& byDefault, Store store,
                 const std::string& note = "") {
    const std::string flag = LongName(flags);
    return {flags, "N",
            what + ", " + std::to_string(lowest) + " to " + std::to_string(highest) + note +
                " (default" +
                (std::isdigit(static_cast<unsigned char>(byDefault[0])) ? " " : ": ") + byDefault +
                ")",
            [=](Request& request, const std::string& text) {
                store(request, WholeNumber(flag, text, lowest, highest));
            }};
}

// One of the filter's settings as a number: its flag is its field's name, its range the tool's
// limits and its default the plug-in's.
OptionRow SettingNumber(SettingField field, const std::string& what, const std::string& note = "") {
    const SettingRange range = RangeOf(field, kToolLimits);
    return Number(
        std::string("--") + SettingName(field), what, range.lowest, range.highest,
        std::to_string(kDefaultSettings.*kSettingFields[static_cast<std::size_t>(field)].member),
        [field](Request& request, std::uint64_t value) {
            Set(request, field, static_cast<std::int32_t>(value));
        },
        note);
}

// A name left empty (an unset variable) is a mistake, never "the default".
void NotEmpty(const std::string& flags, const std::string& text) {
    if (text.empty()) Fail(LongName(flags) + ": expected a name, got ''");
}

OptionRow Path(const char* flags, const char* value, const std::string& help,
               fs::path Request::*member) {
    return {flags, value, help, [member, flags](Request& request, const std::string& text) {
                NotEmpty(flags, text);
                request.*member = text;
            }};
}

OptionRow Switch(const char* flags, const char* help, void (*apply)(Request&)) {
    return {flags, nullptr, help,
            [apply](Request& request, const std::string&) { apply(request); }};
}

// Every option, in the order --help lists them and their values are applied: the settings file
// before the flags that override it.
std::vector<OptionRow> OptionTable() {
    const std::string shapes = ShapeNameList();
    return {
        Path("-o,--output", "OUTPUT",
             "output file for a single input (- is standard output); its extension picks the "
             "format unless --format does",
             &Request::output),
        Path("--out-dir", "DIR", "directory (made if missing) for the outputs of several inputs",
             &Request::outDir),
        {"--format", "NAME", "output format: png, jpg, webp, tiff or svg",
         [](Request& request, const std::string& text) {
             request.format = FormatFromName(text);
             if (!request.format)
                 Fail("--format: expected png, jpg, webp, tiff or svg, got '" + text + "'");
         }},
        Number("--quality,--jpeg-quality", "JPEG and WebP quality, and SVG's embedded picture's", 1,
               100, std::to_string(SaveOptions{}.quality),
               [](Request& request, std::uint64_t value) {
                   request.save.quality = static_cast<int>(value);
               }),
        Switch("--no-background",
               "SVG: the shapes alone, without the picture or white under them (for plotters and "
               "cutters)",
               [](Request& request) { request.svgBackground = false; }),
        Switch("--keep-alpha",
               "keep the input's transparency: RGBA PNG, WebP or TIFF, the alpha as it was",
               [](Request& request) { request.keepAlpha = true; }),
        Switch("-f,--force", "write a binary image to a terminal all the same",
               [](Request& request) { request.force = true; }),
        Switch("--strip", "leave out the input's EXIF, XMP and IPTC",
               [](Request& request) { request.save.strip = true; }),
        {"--background", "COLOR", "colour under transparent parts, #rrggbb (default #ffffff)",
         [](Request& request, const std::string& text) { request.background = Colour(text); }},
        {"--settings", "PATH",
         std::string("start from the plug-in's settings file, or the directory holding its \"") +
             kSettingsFileName + "\"; flags override it",
         [](Request& request, const std::string& text) {
             NotEmpty("--settings", text);
             LoadSettingsFile(request, text);
         }},
        {"--shape", "NAME", shapes + " (default " + kShapeNames[kDefaultSettings.shape] + ")",
         [shapes](Request& request, const std::string& text) {
             const std::optional<std::int32_t> shape = ShapeFromName(text);
             if (!shape) Fail("--shape: expected " + shapes + ", got '" + text + "'");
             Set(request, SettingField::Shape, *shape);
         }},
        SettingNumber(SettingField::Density, "coverage percentage"),
        SettingNumber(SettingField::MinSize, "smallest shape size"),
        SettingNumber(SettingField::MaxSize, "shape sizes stay below this",
                      ", not below --min-size"),
        Switch("--white", "paint the shapes on white instead of on the image",
               [](Request& request) { Set(request, SettingField::White, 1); }),
        Number(
            "--seed", "random seed", kSeedRange.lowest, kSeedRange.highest,
            "the clock, as the plug-in does; in a batch, one drawn for each file",
            [](Request& request, std::uint64_t value) {
                request.seed = static_cast<std::uint32_t>(value);
            },
            ": the same seed gives the same picture"),
        Path("--save-settings", "DIR",
             std::string("write the effective settings to \"") + kSettingsFileName +
                 "\" in DIR, in the plug-in's format",
             &Request::saveSettings),
        Number("-j,--jobs", "images filtered in parallel", 1, 1024, "all cores",
               [](Request& request, std::uint64_t value) {
                   request.jobs = static_cast<unsigned>(value);
               }),
        Number("--threads", "threads filtering each image", 1, 1024,
               "the cores, shared among the jobs running",
               [](Request& request, std::uint64_t value) {
                   request.threads = static_cast<unsigned>(value);
               }),
        Number("--max-megapixels", "refuse images larger than this many million pixels", 1, 100000,
               std::to_string(Request{}.maxMegapixels),
               [](Request& request, std::uint64_t value) { request.maxMegapixels = value; }),
        Switch("-q,--quiet", "no progress bar and no batch summary",
               [](Request& request) { request.quiet = true; }),
        Switch("-v,--verbose", "print the seed, the settings and each file done",
               [](Request& request) { request.verbose = true; }),
    };
}

struct Task {
    fs::path input;
    fs::path output;
    ImageFormat format;
};

std::string Name(const fs::path& path) {
    return path == "-" ? std::string("standard input") : path.string();
}

// Seconds spent in each stage of one file, for --verbose.
struct StageTimes {
    double decode = 0, filter = 0, encode = 0;

    std::string Describe() const {
        char text[96];
        std::snprintf(text, sizeof text, "decode %.2f s, filter %.2f s, encode %.2f s", decode,
                      filter, encode);
        return text;
    }
};

class Stopwatch {
public:
    // Seconds since the last lap (or the start).
    double Lap() {
        const auto now = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        return seconds;
    }

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

bool KeepsAlpha(ImageFormat format) {
    return format != ImageFormat::Jpeg && format != ImageFormat::Svg;
}

// Filters one file; the failure's one line (naming the file it concerns), or nothing.
std::optional<std::string> Process(const Task& task, const Request& request, std::uint32_t seed,
                                   unsigned threads, const StippleProgress& progress,
                                   StageTimes& times, std::vector<std::string>& warnings) {
    std::error_code error;
    if (task.input != "-" && task.output != "-" && fs::exists(task.output, error) &&
        fs::equivalent(task.input, task.output, error)) {
        return task.output.string() + ": refusing to overwrite the input file";
    }
    try {
        // Before the work: a bad output fails at once.
        OutputFile output(task.output, request.force || task.format == ImageFormat::Svg);
        Stopwatch clock;
        const Image image = LoadImage(task.input, {.maxPixels = request.maxMegapixels * 1'000'000,
                                                   .background = request.background,
                                                   .keepAlpha = request.keepAlpha});
        warnings = image.warnings;
        if (image.bands == 4 && !KeepsAlpha(task.format)) {
            return Name(task.input) + ": " + FormatName(task.format) +
                   " output has no transparency to keep it in (write PNG, WebP or TIFF)";
        }
        // The decoder's threads freed their buffers into arenas of their own: give those pages
        // back before the filter takes its canvas.
        malloc_trim(0);
        times.decode = clock.Lap();
        const PixelBuffer buffer{.pixels = image.pixels.get(),
                                 .width = image.width,
                                 .height = image.height,
                                 .layout = image.bands == 4 ? PixelLayout::Rgba : PixelLayout::Rgb};
        if (task.format == ImageFormat::Svg) {
            // The shapes over the picture they were coloured from, as the run paints them.
            const bool picture = request.svgBackground && request.settings.clearFirst == 0;
            const std::string href = picture ? PictureDataUri(image, request.save.quality) : "";
            std::string svg;
            const StippleResult result = StippleSvg(
                buffer, request.settings, seed,
                {.background = request.svgBackground, .pictureHref = href}, svg, kToolLimits);
            if (!result.done()) return Name(task.input) + ": " + DescribeResult(result);
            times.filter = clock.Lap();
            output.WriteBytes(svg);
            times.encode = clock.Lap();
            return std::nullopt;
        }
        // The filter draws from the top down on a thread of its own while the encoder takes
        // each row as it is final: the encode then mostly hides behind the filter. (The stage
        // times say when the filter ended, and what was left of the encode after it.)
        RowGate gate;
        StippleResult result;
        const auto draw = [&] {
            result = StippleBuffer(buffer, request.settings, seed, progress, kToolLimits, threads,
                                   [&](int rows) { gate.Open(rows); });
            gate.Close();
            times.filter = clock.Lap();
        };
        std::thread filter;
        try {
            filter = std::thread(draw);
        } catch (const std::system_error&) {
            draw();  // no thread to spare: the encoder finds every row final
        }
        const auto failed = [&] { return Name(task.input) + ": " + DescribeResult(result); };
        SaveOptions save = request.save;
        save.format = task.format;
        save.threads = threads;  // the job's share of the cores, as for the filter
        save.gate = &gate;
        try {
            output.Write(image, save);
        } catch (...) {
            if (filter.joinable()) filter.join();
            if (!result.done()) return failed();  // the encoder only saw the rows stop coming
            throw;
        }
        if (filter.joinable()) filter.join();
        if (!result.done()) return failed();
        times.encode = clock.Lap();
    } catch (const ImageError& e) {
        return e.what();
    } catch (const std::length_error& e) {
        return task.output.string() + ": " + e.what();
    } catch (const std::bad_alloc&) {
        return Name(task.input) + ": not enough memory for this image";
    }
    return std::nullopt;
}

const char kExtensions[] = "use .png, .jpg, .jpeg, .webp, .tif, .tiff or .svg, or --format";

std::vector<Task> PlanTasks(const Request& request) {
    std::vector<Task> tasks;
    if (!request.output.empty()) {
        if (request.inputs.size() != 1) Fail("-o takes one input; use --out-dir for several");
        if (!request.outDir.empty()) Fail("give either -o or --out-dir, not both");
        std::optional<ImageFormat> format = request.format;
        if (!format && request.output == "-") Fail("-o -: give --format for standard output");
        if (!format) format = FormatFromExtension(request.output);
        if (!format) Fail(request.output.string() + ": unknown extension (" + kExtensions + ")");
        tasks.push_back({request.inputs[0], request.output, *format});
        return tasks;
    }
    if (request.outDir.empty()) Fail("give an output file with -o, or a directory with --out-dir");
    std::error_code error;
    fs::create_directories(request.outDir, error);
    if (!fs::is_directory(request.outDir)) {
        Fail("--out-dir " + request.outDir.string() + ": " +
             (error ? error.message() : std::string("not a directory")));
    }
    if (access(request.outDir.c_str(), W_OK) != 0) {
        Fail("--out-dir " + request.outDir.string() + ": directory is not writable");
    }
    std::set<fs::path> outputs;
    for (const fs::path& input : request.inputs) {
        if (input == "-") Fail("standard input ('-') takes -o, not --out-dir");
        // The format asked for, else the input's own, else PNG (for GIF, HEIF and the like); the
        // name's extension follows the format.
        const std::optional<ImageFormat> own = FormatFromExtension(input);
        const ImageFormat format = request.format.value_or(own.value_or(ImageFormat::Png));
        fs::path output = request.outDir / input.filename();
        if (own != format) {
            static const std::map<ImageFormat, const char*> kExtension{{ImageFormat::Png, ".png"},
                                                                       {ImageFormat::Jpeg, ".jpg"},
                                                                       {ImageFormat::Webp, ".webp"},
                                                                       {ImageFormat::Tiff, ".tif"},
                                                                       {ImageFormat::Svg, ".svg"}};
            output.replace_extension(kExtension.at(format));
        }
        if (!outputs.insert(output).second) {
            Fail("two inputs would both be written to " + output.string());
        }
        tasks.push_back({input, output, format});
    }
    return tasks;
}

// How many images are filtered at once, and on how many threads each: the filter's bands keep
// every core busy on one picture, so a batch gives each running job its share of the cores.
struct Parallelism {
    unsigned jobs, threads;

    std::string Describe() const {
        const std::string each = std::to_string(threads) + (threads == 1 ? " thread" : " threads");
        return jobs == 1 ? each : std::to_string(jobs) + " jobs of " + each;
    }
};

Parallelism PlanParallelism(const Request& request, std::size_t tasks) {
    const unsigned jobs = static_cast<unsigned>(std::clamp<std::size_t>(tasks, 1, request.jobs));
    return {jobs, request.threads.value_or(std::max(1u, Cores() / jobs))};
}

// The seed of each file: --seed for all; else, for one file, the clock, as the plug-in does; for
// a batch, one drawn for each, so that pictures of the same size do not share a layout, within
// the range every host takes, so the GIMP plug-in and the page can repeat it.
std::vector<std::uint32_t> DrawSeeds(const Request& request, std::size_t count) {
    if (request.seed) return std::vector<std::uint32_t>(count, *request.seed);
    if (count == 1) {
        const auto now = static_cast<std::uint64_t>(std::time(nullptr));
        return {static_cast<std::uint32_t>(now % (std::uint64_t{kSeedRange.highest} + 1))};
    }
    std::random_device entropy;
    std::uniform_int_distribution<std::uint32_t> range(kSeedRange.lowest, kSeedRange.highest);
    std::vector<std::uint32_t> seeds(count);
    for (std::uint32_t& seed : seeds) seed = range(entropy);
    return seeds;
}

int RunTasks(const std::vector<Task>& tasks, const Request& request,
             const std::vector<std::uint32_t>& seeds, const Parallelism& parallel) {
    const bool seedEach = !request.seed && tasks.size() > 1;
    ProgressLine line(!request.quiet && StderrIsTerminal());
    const bool batch = request.output.empty();
    std::atomic<std::size_t> next{0};
    std::atomic<int> done{0}, failed{0};

    auto work = [&] {
        for (std::size_t i = next++; i < tasks.size(); i = next++) {
            const Task& task = tasks[i];
            StageTimes times;
            const std::string label = Name(task.input.filename());
            StippleProgress progress;
            if (!batch) progress = [&](int percent) { line.ShowPercent(label, percent); };
            if (request.verbose && seedEach) {
                line.PrintLine(Line(Name(task.input) + ": seed " + std::to_string(seeds[i])));
            }
            std::vector<std::string> warnings;
            const std::optional<std::string> failure =
                Process(task, request, seeds[i], parallel.threads, progress, times, warnings);
            for (const std::string& warning : warnings) line.PrintLine(Line("warning: " + warning));
            if (failure) {
                ++failed;
                line.PrintLine(Line(*failure));
            } else if (request.verbose) {
                line.PrintLine(Name(task.input) + " -> " + task.output.string() + " (" +
                               times.Describe() + ")");
            }
            ++done;
            if (batch) {
                line.ShowText(std::to_string(done) + " of " + std::to_string(tasks.size()) +
                              " images");
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < parallel.jobs; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    line.Finish();

    if (batch && !request.quiet) {
        Say(std::to_string(done - failed) + " of " + std::to_string(tasks.size()) + " images done" +
            (failed > 0 ? ", " + std::to_string(failed) + " failed" : ""));
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "moxel: repaints images as a field of small shapes coloured from the image.\n\n"
        "  moxel INPUT -o OUTPUT [options]\n"
        "  moxel INPUT... --out-dir DIR [--jobs N] [options]\n\n"
        "Reads PNG, JPEG, WebP, TIFF, GIF and HEIF; writes PNG, JPEG, WebP and TIFF in sRGB, and\n"
        "the shapes as SVG.\n"
        "See moxel(1).",
        "moxel");
    std::vector<std::string> inputs;
    app.add_option("inputs", inputs, "image files to filter; - is standard input")
        ->type_name("INPUT...");
    const std::vector<OptionRow> table = OptionTable();
    std::vector<std::string> texts(table.size());
    std::vector<CLI::Option*> given;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const OptionRow& row = table[i];
        CLI::Option* option =
            row.value != nullptr
                ? app.add_option(row.flags, texts[i], row.help)->type_name(row.value)
                : app.add_flag(row.flags, row.help);
        // A flag given twice: the last one counts, as in most tools.
        given.push_back(option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast));
    }
    app.set_version_flag("--version", kVersion);
    // "--density=" (an unset variable) is an empty value, not a flag waiting for the next word.
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word.size() > 3 && word.starts_with("--") && word.ends_with('=')) {
            words.emplace_back(word.substr(0, word.size() - 1));
            words.emplace_back();
        } else {
            words.emplace_back(word);
        }
    }
    std::reverse(words.begin(), words.end());  // CLI11 takes them last first
    try {
        app.parse(words);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
        Say(std::string(e.what()) + " (see --help)");
        return kUsageError;
    }

    try {
        Request request;
        if (std::find(inputs.begin(), inputs.end(), "") != inputs.end()) {
            Fail("expected an input file name, got ''");
        }
        request.inputs.assign(inputs.begin(), inputs.end());
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (given[i]->count() > 0) table[i].apply(request, texts[i]);
        }
        HoldToToolLimits(request);
        const StippleSettings& settings = request.settings;
        if (!request.saveSettings.empty()) {
            if (settings.maxSize > kDialogLimits.size.highest) {
                Fail("--save-settings: the plug-in's dialog takes sizes up to " +
                     std::to_string(kDialogLimits.size.highest) + ", got --max-size " +
                     std::to_string(settings.maxSize));
            }
            std::error_code error;
            if (!fs::is_directory(request.saveSettings, error)) {
                Fail("--save-settings " + request.saveSettings.string() + ": no such directory");
            }
            const std::string directory = (request.saveSettings / "").string();
            if (SaveSettingsFrom(directory.c_str(), settings) != 1) {
                Say(SettingsPath(directory.c_str()) + ": " + std::strerror(errno));
                return 1;
            }
            if (request.inputs.empty()) return 0;
        }
        if (request.inputs.empty()) Fail("no input files (see --help)");
        const std::vector<Task> tasks = PlanTasks(request);
        if (!request.svgBackground && std::any_of(tasks.begin(), tasks.end(), [](const Task& task) {
                return task.format != ImageFormat::Svg;
            })) {
            Fail("--no-background is for SVG output (.svg or --format svg)");
        }
        // Asked of every output: a batch's JPEG inputs have no transparency to keep anyway.
        const std::optional<ImageFormat> asked =
            request.format ? request.format : FormatFromExtension(request.output);
        if (request.keepAlpha && asked && !KeepsAlpha(*asked)) {
            Fail(std::string("--keep-alpha: ") + FormatName(*asked) +
                 " output has no transparency to keep it in (write PNG, WebP or TIFF)");
        }

        const Parallelism parallel = PlanParallelism(request, tasks.size());
        const std::vector<std::uint32_t> seeds = DrawSeeds(request, tasks.size());
        if (request.verbose) {
            const bool one = request.seed || seeds.size() == 1;
            Say((one ? "seed " + std::to_string(seeds[0]) : std::string("a seed for each file")) +
                "; white " + std::to_string(settings.clearFirst) + ", sizes " +
                std::to_string(settings.minSize) + " to " + std::to_string(settings.maxSize) +
                ", density " + std::to_string(settings.density) + ", shape " +
                kShapeNames[settings.shape] + "; " + parallel.Describe());
        }
        RemoveTemporariesOnInterrupt();
        StartImageLibrary();
        const int status = RunTasks(tasks, request, seeds, parallel);
        StopImageLibrary();
        return status;
    } catch (const UsageError& e) {
        Say(e.message);
        return kUsageError;
    } catch (const ImageError& e) {
        Say(e.what());
        return 1;
    }
}
