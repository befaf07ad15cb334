// moxel: applies the stipple filter to image files.
#include <malloc.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "embed/stipple_buffer.h"
#include "image_io.h"
#include "interrupts.h"
#include "progress.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

constexpr char kVersion[] = "moxel 1.1";
constexpr int kUsageError = 2;
// The dialog shows sizes up to kSizeHighest. The tool goes further for big photos: 200 is 2.5 % of
// a 48-megapixel photo's width. A run's time grows with the shapes' area over the smallest size
// (2 to 200 at full density on 12 megapixels: two minutes), never its memory.
constexpr int kToolMaxSize = 200;

const std::map<std::string, int> kShapeNames{{"circle", Circle},   {"triangle", Triangle},
                                             {"square", Square},   {"pentagon", Pentagon},
                                             {"hexagon", Hexagon}, {"star", Star}};

// The flags as typed; numbers are checked by hand so that every refusal reads the same way.
struct Arguments {
    std::vector<std::string> inputs;
    std::string output, outDir, format, shape, background;
    std::string density, minSize, maxSize, seed, jobs, maxMegapixels, quality;
    std::string settings, saveSettings;
    bool white = false, strip = false, quiet = false, verbose = false;
};

struct Options {
    std::vector<fs::path> inputs;
    fs::path output, outDir;
    std::optional<ImageFormat> format;
    std::optional<int> density, minSize, maxSize;
    std::optional<std::uint32_t> seed;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::uint64_t maxMegapixels = 500;
    Rgb background;
    SaveOptions save;
};

struct UsageError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw UsageError{message}; }

// "moxel: --density: expected a whole number from 1 to 100, got 'abc'"
std::uint64_t WholeNumber(const char* flag, const std::string& text, std::uint64_t low,
                          std::uint64_t high) {
    std::uint64_t value = 0;
    bool valid = !text.empty() && text.size() <= 19 &&
                 std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (valid) value = std::stoull(text);
    if (!valid || value < low || value > high) {
        Fail(std::string(flag) + ": expected a whole number from " + std::to_string(low) + " to " +
             std::to_string(high) + ", got '" + text + "'");
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

Options Check(const Arguments& args, StippleSettings& settings) {
    Options options;
    for (const std::string& input : args.inputs) options.inputs.emplace_back(input);
    options.output = args.output;
    options.outDir = args.outDir;
    if (!args.format.empty()) {
        options.format = FormatFromName(args.format);
        if (!options.format) {
            Fail("--format: expected png, jpg, webp or tiff, got '" + args.format + "'");
        }
    }
    if (!args.shape.empty()) {
        const auto shape = kShapeNames.find(args.shape);
        if (shape == kShapeNames.end()) {
            Fail("--shape: expected circle, triangle, square, pentagon, hexagon or star, got '" +
                 args.shape + "'");
        }
        settings.shape = shape->second;
    }
    if (!args.density.empty())
        settings.density = WholeNumber("--density", args.density, kDensityLowest, kDensityHighest);
    if (!args.minSize.empty()) {
        settings.minSize = WholeNumber("--min-size", args.minSize, kSizeLowest, kToolMaxSize);
    }
    if (!args.maxSize.empty()) {
        settings.maxSize = WholeNumber("--max-size", args.maxSize, kSizeLowest, kToolMaxSize);
    }
    if (args.white) settings.clearFirst = 1;
    if (settings.minSize > settings.maxSize) {
        Fail("--min-size (" + std::to_string(settings.minSize) +
             ") must not be above --max-size (" + std::to_string(settings.maxSize) + ")");
    }
    if (!args.seed.empty()) options.seed = WholeNumber("--seed", args.seed, 0, UINT32_MAX);
    if (!args.jobs.empty()) options.jobs = WholeNumber("--jobs", args.jobs, 1, 1024);
    if (!args.maxMegapixels.empty()) {
        options.maxMegapixels = WholeNumber("--max-megapixels", args.maxMegapixels, 1, 100000);
    }
    if (!args.quality.empty())
        options.save.quality = WholeNumber("--quality", args.quality, 1, 100);
    if (!args.background.empty()) options.background = Colour(args.background);
    options.save.strip = args.strip;
    return options;
}

// --settings takes the directory the plug-in keeps its file in, or the file itself. A file that
// is missing or whose fields do not read is a warning: the run goes on with the defaults for
// what was not read, as the plug-in does.
void LoadSettingsFile(const fs::path& given, StippleSettings& settings) {
    std::error_code error;
    const fs::path file = fs::is_directory(given, error) ? given / kSettingsFileName : given;
    std::FILE* stream = std::fopen(file.c_str(), "rt");
    if (stream == nullptr) {
        std::fprintf(stderr, "moxel: warning: %s: %s; using the default settings\n", file.c_str(),
                     std::strerror(errno));
        return;
    }
    constexpr std::int32_t kUnread = INT32_MIN;
    StippleSettings read{kUnread, kUnread, kUnread, kUnread, kUnread};
    ReadSettings(stream, read);
    std::fclose(stream);
    std::int32_t* fields[] = {&read.clearFirst, &read.minSize, &read.maxSize, &read.density,
                              &read.shape};
    const std::int32_t* defaults[] = {&settings.clearFirst, &settings.minSize, &settings.maxSize,
                                      &settings.density, &settings.shape};
    int count = 0;
    for (int i = 0; i < 5; ++i) {
        if (*fields[i] == kUnread) {
            *fields[i] = *defaults[i];
        } else {
            ++count;
        }
    }
    if (count < 5) {
        std::fprintf(stderr,
                     "moxel: warning: %s: %d of its 5 settings read; the others are the defaults\n",
                     file.c_str(), count);
    }
    settings = read;
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

// Filters one file; the failure's one line (naming the file it concerns), or nothing.
std::optional<std::string> Process(const Task& task, const StippleSettings& settings,
                                   std::uint32_t seed, const Options& options,
                                   const StippleProgress& progress, StageTimes& times) {
    std::error_code error;
    if (task.input != "-" && task.output != "-" && fs::exists(task.output, error) &&
        fs::equivalent(task.input, task.output, error)) {
        return task.output.string() + ": refusing to overwrite the input file";
    }
    try {
        OutputFile output(task.output);  // before the work: a bad output fails at once
        Stopwatch clock;
        const Image image = LoadImage(task.input, {.maxPixels = options.maxMegapixels * 1'000'000,
                                                   .background = options.background});
        // The decoder's threads freed their buffers into arenas of their own: give those pages
        // back before the filter takes its canvas.
        malloc_trim(0);
        times.decode = clock.Lap();
        const PixelBuffer buffer{.pixels = image.pixels.get(),
                                 .width = image.width,
                                 .height = image.height,
                                 .layout = PixelLayout::Rgb};
        const StippleResult result = StippleBuffer(buffer, settings, seed, progress, kToolLimits);
        if (!result.done()) return Name(task.input) + ": " + DescribeResult(result);
        times.filter = clock.Lap();
        SaveOptions save = options.save;
        save.format = task.format;
        output.Write(image, save);
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

const char kExtensions[] = "use .png, .jpg, .jpeg, .webp, .tif or .tiff, or --format";

std::vector<Task> PlanTasks(const Options& options) {
    std::vector<Task> tasks;
    if (!options.output.empty()) {
        if (options.inputs.size() != 1) Fail("-o takes one input; use --out-dir for several");
        if (!options.outDir.empty()) Fail("give either -o or --out-dir, not both");
        std::optional<ImageFormat> format = options.format;
        if (!format && options.output == "-") Fail("-o -: give --format for standard output");
        if (!format) format = FormatFromExtension(options.output);
        if (!format) Fail(options.output.string() + ": unknown extension (" + kExtensions + ")");
        tasks.push_back({options.inputs[0], options.output, *format});
        return tasks;
    }
    if (options.outDir.empty()) Fail("give an output file with -o, or a directory with --out-dir");
    std::error_code error;
    fs::create_directories(options.outDir, error);
    if (!fs::is_directory(options.outDir)) {
        Fail("--out-dir " + options.outDir.string() + ": " +
             (error ? error.message() : std::string("not a directory")));
    }
    if (access(options.outDir.c_str(), W_OK) != 0) {
        Fail("--out-dir " + options.outDir.string() + ": directory is not writable");
    }
    std::set<fs::path> outputs;
    for (const fs::path& input : options.inputs) {
        if (input == "-") Fail("standard input ('-') takes -o, not --out-dir");
        // The format asked for, else the input's own, else PNG (for GIF, HEIF and the like); the
        // name's extension follows the format.
        const std::optional<ImageFormat> own = FormatFromExtension(input);
        const ImageFormat format = options.format.value_or(own.value_or(ImageFormat::Png));
        fs::path output = options.outDir / input.filename();
        if (own != format) {
            static const std::map<ImageFormat, const char*> kExtension{{ImageFormat::Png, ".png"},
                                                                       {ImageFormat::Jpeg, ".jpg"},
                                                                       {ImageFormat::Webp, ".webp"},
                                                                       {ImageFormat::Tiff, ".tif"}};
            output.replace_extension(kExtension.at(format));
        }
        if (!outputs.insert(output).second) {
            Fail("two inputs would both be written to " + output.string());
        }
        tasks.push_back({input, output, format});
    }
    return tasks;
}

int RunTasks(const std::vector<Task>& tasks, const StippleSettings& settings, std::uint32_t seed,
             const Options& options, bool quiet, bool verbose) {
    ProgressLine line(!quiet && StderrIsTerminal());
    const bool batch = options.output.empty();
    std::atomic<std::size_t> next{0};
    std::atomic<int> done{0}, failed{0};

    auto work = [&] {
        for (std::size_t i = next++; i < tasks.size(); i = next++) {
            const Task& task = tasks[i];
            StageTimes times;
            const std::string label = Name(task.input.filename());
            StippleProgress progress;
            if (!batch) progress = [&](int percent) { line.ShowPercent(label, percent); };
            const std::optional<std::string> failure =
                Process(task, settings, seed, options, progress, times);
            if (failure) {
                ++failed;
                line.PrintLine("moxel: " + *failure);
            } else if (verbose) {
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
    const unsigned threads = std::min<std::size_t>(options.jobs, tasks.size());
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    line.Finish();

    if (batch && !quiet) {
        std::fprintf(stderr, "moxel: %d of %zu images done%s\n", done - failed, tasks.size(),
                     failed > 0 ? (", " + std::to_string(failed) + " failed").c_str() : "");
    }
    return failed == 0 ? 0 : 1;
}

void AddOptions(CLI::App& app, Arguments& args) {
    app.add_option("inputs", args.inputs, "image files to filter; - is standard input")
        ->type_name("INPUT...");
    app.add_option("-o,--output", args.output,
                   "output file for a single input (- is standard output); its extension picks "
                   "the format unless --format does")
        ->type_name("OUTPUT");
    app.add_option("--out-dir", args.outDir,
                   "directory (made if missing) for the outputs of several inputs")
        ->type_name("DIR");
    app.add_option("--format", args.format, "output format: png, jpg, webp or tiff")
        ->type_name("NAME");
    app.add_option("--quality,--jpeg-quality", args.quality,
                   "JPEG and WebP quality, 1 to 100 (default 90)")
        ->type_name("N");
    app.add_flag("--strip", args.strip, "leave out the input's EXIF and XMP");
    app.add_option("--background", args.background,
                   "colour under transparent parts, #rrggbb (default #ffffff)")
        ->type_name("COLOR");
    app.add_option("--shape", args.shape, "circle|triangle|square|pentagon|hexagon|star")
        ->type_name("NAME");
    app.add_option("--density", args.density, "coverage percentage, 1 to 100 (default 30)")
        ->type_name("N");
    app.add_option("--min-size", args.minSize, "smallest shape size, 2 to 200 (default 4)")
        ->type_name("N");
    app.add_option("--max-size", args.maxSize,
                   "shape sizes stay below this, 2 to 200, not below --min-size (default 12)")
        ->type_name("N");
    app.add_flag("--white", args.white, "paint the shapes on white instead of on the image");
    app.add_option("--seed", args.seed,
                   "random seed, 0 to 4294967295: the same seed gives the same picture "
                   "(default: the clock, as the plug-in does)")
        ->type_name("N");
    app.add_option("--settings", args.settings,
                   "start from the plug-in's settings file, or the directory holding its "
                   "\"moxel5.dat\"; flags override it")
        ->type_name("PATH");
    app.add_option("--save-settings", args.saveSettings,
                   "write the effective settings to \"moxel5.dat\" in DIR, in the plug-in's format")
        ->type_name("DIR");
    app.add_option("-j,--jobs", args.jobs, "images filtered in parallel (default: all cores)")
        ->type_name("N");
    app.add_option("--max-megapixels", args.maxMegapixels,
                   "refuse images larger than this many million pixels (default 500)")
        ->type_name("N");
    app.add_flag("-q,--quiet", args.quiet, "no progress bar and no batch summary");
    app.add_flag("-v,--verbose", args.verbose, "print the seed, the settings and each file done");
    app.set_version_flag("--version", kVersion);
    // A flag given twice: the last one counts, as in most tools.
    for (CLI::Option* option : app.get_options()) {
        if (option->get_name() != "inputs") {
            option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "moxel: repaints images as a field of small shapes coloured from the image.\n\n"
        "  moxel INPUT -o OUTPUT [options]\n"
        "  moxel INPUT... --out-dir DIR [--jobs N] [options]\n\n"
        "Reads PNG, JPEG, WebP, TIFF, GIF and HEIF; writes PNG, JPEG, WebP and TIFF in sRGB.\n"
        "See moxel(1).",
        "moxel");
    Arguments args;
    AddOptions(app, args);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "moxel: %s (see --help)\n", e.what());
        return kUsageError;
    }

    try {
        StippleSettings settings = kDefaultSettings;
        if (!args.settings.empty()) LoadSettingsFile(args.settings, settings);
        const Options options = Check(args, settings);
        if (!args.saveSettings.empty()) {
            if (settings.maxSize > kSizeHighest) {
                Fail("--save-settings: the plug-in's dialog takes sizes up to " +
                     std::to_string(kSizeHighest) + ", got --max-size " +
                     std::to_string(settings.maxSize));
            }
            std::error_code error;
            if (!fs::is_directory(args.saveSettings, error)) {
                Fail("--save-settings " + args.saveSettings + ": no such directory");
            }
            const std::string directory = (fs::path(args.saveSettings) / "").string();
            if (SaveSettingsFrom(directory.c_str(), settings) != 1) {
                std::fprintf(stderr, "moxel: %s: %s\n", SettingsPath(directory.c_str()).c_str(),
                             std::strerror(errno));
                return 1;
            }
            if (options.inputs.empty()) return 0;
        }
        if (options.inputs.empty()) Fail("no input files (see --help)");
        const std::vector<Task> tasks = PlanTasks(options);

        const std::uint32_t seed =
            options.seed.value_or(static_cast<std::uint32_t>(std::time(nullptr)));
        if (args.verbose) {
            std::fprintf(stderr, "moxel: seed %u; white %d, sizes %d to %d, density %d, shape %d\n",
                         seed, settings.clearFirst, settings.minSize, settings.maxSize,
                         settings.density, settings.shape);
        }
        RemoveTemporariesOnInterrupt();
        StartImageLibrary();
        const int status = RunTasks(tasks, settings, seed, options, args.quiet, args.verbose);
        vips_shutdown();
        return status;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "moxel: %s\n", e.message.c_str());
        return kUsageError;
    } catch (const ImageError& e) {
        std::fprintf(stderr, "moxel: %s\n", e.what());
        return 1;
    }
}
