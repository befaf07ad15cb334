// moxel: applies the stipple filter to PNG and JPEG files.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
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
#include "progress.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 2;

const std::map<std::string, int> kShapeNames{{"circle", Circle},   {"triangle", Triangle},
                                             {"square", Square},   {"pentagon", Pentagon},
                                             {"hexagon", Hexagon}, {"star", Star}};

struct Options {
    std::vector<fs::path> inputs;
    fs::path output;
    fs::path outDir;
    std::string shape;
    std::optional<int> density, minSize, maxSize;
    bool white = false;
    std::optional<std::uint32_t> seed;
    fs::path settingsDir, saveSettingsDir;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::uint64_t maxMegapixels = 500;
    int jpegQuality = 90;
    bool quiet = false, verbose = false;
};

struct UsageError {
    std::string message;
};

void Fail(const std::string& message) { throw UsageError{message}; }

// The plug-in takes a directory with its separator on the end.
std::string AsSettingsDirectory(const fs::path& directory) { return (directory / "").string(); }

void RequireDirectory(const fs::path& directory, const char* flag) {
    std::error_code error;
    if (!fs::is_directory(directory, error)) {
        Fail(std::string(flag) + " " + directory.string() + ": no such directory");
    }
}

StippleSettings EffectiveSettings(const Options& options) {
    StippleSettings settings = kDefaultSettings;
    if (!options.settingsDir.empty()) {
        RequireDirectory(options.settingsDir, "--settings");
        LoadSettingsInto(AsSettingsDirectory(options.settingsDir).c_str(), settings);
    }
    if (!options.shape.empty()) settings.shape = kShapeNames.at(options.shape);
    if (options.density) settings.density = *options.density;
    if (options.minSize) settings.minSize = *options.minSize;
    if (options.maxSize) settings.maxSize = *options.maxSize;
    if (options.white) settings.clearFirst = 1;
    if (settings.minSize > settings.maxSize) {
        Fail("--min-size (" + std::to_string(settings.minSize) +
             ") must not be above --max-size (" + std::to_string(settings.maxSize) + ")");
    }
    return settings;
}

struct Task {
    fs::path input;
    fs::path output;
    ImageFormat format;
};

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

// Filters one file; the reason it failed, or nothing.
std::optional<std::string> Process(const Task& task, const StippleSettings& settings,
                                   std::uint32_t seed, const Options& options,
                                   const StippleProgress& progress, StageTimes& times) {
    std::error_code error;
    if (fs::exists(task.output, error) && fs::equivalent(task.input, task.output, error)) {
        return "refusing to overwrite the input file";
    }
    try {
        Stopwatch clock;
        Image image = LoadImage(task.input, options.maxMegapixels * 1'000'000);
        times.decode = clock.Lap();
        const PixelBuffer buffer{.pixels = image.pixels.data(),
                                 .width = image.width,
                                 .height = image.height,
                                 .layout = PixelLayout::Bgr};
        if (!StippleBuffer(buffer, settings, seed, progress)) {
            return "not enough memory to filter a " + std::to_string(image.width) + " x " +
                   std::to_string(image.height) + " image";
        }
        times.filter = clock.Lap();
        SaveImage(image, task.output, task.format, {.jpegQuality = options.jpegQuality});
        times.encode = clock.Lap();
    } catch (const ImageError& e) {
        return e.what();
    } catch (const std::bad_alloc&) {
        return "not enough memory for this image";
    }
    return std::nullopt;
}

std::vector<Task> PlanTasks(const Options& options) {
    std::vector<Task> tasks;
    if (!options.output.empty()) {
        if (options.inputs.size() != 1) Fail("-o takes one input; use --out-dir for several");
        if (!options.outDir.empty()) Fail("give either -o or --out-dir, not both");
        const auto format = FormatFromExtension(options.output);
        if (!format)
            Fail(options.output.string() + ": unknown extension (use .png, .jpg or .jpeg)");
        tasks.push_back({options.inputs[0], options.output, *format});
        return tasks;
    }
    if (options.outDir.empty()) Fail("give an output file with -o, or a directory with --out-dir");
    RequireDirectory(options.outDir, "--out-dir");
    if (access(options.outDir.c_str(), W_OK) != 0) {
        Fail("--out-dir " + options.outDir.string() + ": directory is not writable");
    }
    std::set<fs::path> outputs;
    for (const fs::path& input : options.inputs) {
        const fs::path output = options.outDir / input.filename();
        if (!outputs.insert(output).second) {
            Fail("two inputs would both be written to " + output.string());
        }
        // An unknown extension is that file's failure, reported with the others.
        tasks.push_back({input, output, FormatFromExtension(input).value_or(ImageFormat::Png)});
    }
    return tasks;
}

int RunTasks(const std::vector<Task>& tasks, const StippleSettings& settings, std::uint32_t seed,
             const Options& options) {
    ProgressLine line(!options.quiet && StderrIsTerminal());
    const bool batch = options.output.empty();
    std::atomic<std::size_t> next{0};
    std::atomic<int> done{0}, failed{0};

    auto work = [&] {
        for (std::size_t i = next++; i < tasks.size(); i = next++) {
            const Task& task = tasks[i];
            std::optional<std::string> failure;
            StageTimes times;
            if (batch && !FormatFromExtension(task.input)) {
                failure = "unknown extension (use .png, .jpg or .jpeg)";
            } else {
                const std::string label = task.input.filename().string();
                StippleProgress progress;
                if (!batch) progress = [&](int percent) { line.ShowPercent(label, percent); };
                failure = Process(task, settings, seed, options, progress, times);
            }
            if (failure) {
                ++failed;
                line.PrintLine("moxel: " + task.input.string() + ": " + *failure);
            } else if (options.verbose) {
                line.PrintLine(task.input.string() + " -> " + task.output.string() + " (" +
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

    if (batch && !options.quiet) {
        std::fprintf(stderr, "moxel: %d of %zu images done%s\n", done - failed, tasks.size(),
                     failed > 0 ? (", " + std::to_string(failed) + " failed").c_str() : "");
    }
    return failed == 0 ? 0 : 1;
}

// A numeric option that takes only values from low to high; CLI11 names the flag and the range
// when it refuses one.
template <typename T>
void AddRangedOption(CLI::App& app, const char* name, T& value, int low, int high,
                     const std::string& help) {
    app.add_option(name, value, help)->type_name("N")->check(CLI::Range(low, high));
}

void AddOptions(CLI::App& app, Options& options) {
    app.add_option("inputs", options.inputs, "PNG or JPEG files to filter")->type_name("INPUT...");
    app.add_option("-o,--output", options.output,
                   "output file for a single input; its extension (.png, .jpg, .jpeg) picks the "
                   "format")
        ->type_name("OUTPUT");
    app.add_option("--out-dir", options.outDir,
                   "directory for the outputs of several inputs, each under its input's name")
        ->type_name("DIR");
    app.add_option("--shape", options.shape, "circle|triangle|square|pentagon|hexagon|star")
        ->type_name("NAME")
        ->check(CLI::Validator(
            [](std::string& name) -> std::string {
                if (kShapeNames.contains(name)) return "";
                return "must be one of circle, triangle, square, pentagon, hexagon, star (got '" +
                       name + "')";
            },
            "", "shape"));
    AddRangedOption(app, "--density", options.density, 1, 100,
                    "coverage percentage, 1 to 100 (default 30)");
    AddRangedOption(app, "--min-size", options.minSize, 2, 30,
                    "smallest shape size, 2 to 30 (default 4)");
    AddRangedOption(app, "--max-size", options.maxSize, 2, 30,
                    "shape sizes stay below this, 2 to 30, not below --min-size (default 12)");
    app.add_flag("--white", options.white, "paint the shapes on white instead of on the image");
    app.add_option("--seed", options.seed,
                   "random seed, 0 to 4294967295: the same seed gives the same picture "
                   "(default: the clock, as the plug-in does)")
        ->type_name("N");
    app.add_option(
           "--settings", options.settingsDir,
           "start from the plug-in's settings file \"moxel5.dat\" in DIR; flags override it")
        ->type_name("DIR");
    app.add_option("--save-settings", options.saveSettingsDir,
                   "write the effective settings to \"moxel5.dat\" in DIR, in the plug-in's format")
        ->type_name("DIR");
    AddRangedOption(app, "-j,--jobs", options.jobs, 1, 1024,
                    "images filtered in parallel (default: all cores)");
    AddRangedOption(app, "--max-megapixels", options.maxMegapixels, 1, 100000,
                    "refuse images larger than this many million pixels (default 500)");
    AddRangedOption(app, "--jpeg-quality", options.jpegQuality, 1, 100,
                    "JPEG output quality, 1 to 100 (default 90)");
    app.add_flag("-q,--quiet", options.quiet, "no progress bar and no batch summary");
    app.add_flag("-v,--verbose", options.verbose,
                 "print the seed, the settings and each file done");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "moxel: repaints images as a field of small shapes coloured from the image.\n\n"
        "  moxel INPUT -o OUTPUT [options]\n"
        "  moxel INPUT... --out-dir DIR [--jobs N] [options]\n\n"
        "Reads and writes 8-bit PNG and JPEG. Grey and palette images become colour; transparent\n"
        "parts are laid over white first, and the output has no alpha channel. Output goes to a\n"
        "temporary file that replaces the target only when complete; an input is never\n"
        "overwritten.",
        "moxel");
    Options options;
    AddOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);  // prints the help, or the error with the flag's name
        return status == 0 ? 0 : kUsageError;
    }

    try {
        const StippleSettings settings = EffectiveSettings(options);
        if (!options.saveSettingsDir.empty()) {
            RequireDirectory(options.saveSettingsDir, "--save-settings");
            if (SaveSettingsFrom(AsSettingsDirectory(options.saveSettingsDir).c_str(), settings) !=
                1) {
                std::fprintf(stderr, "moxel: cannot write %s\n",
                             (options.saveSettingsDir / kSettingsFileName).c_str());
                return 1;
            }
            if (options.inputs.empty()) return 0;
        }
        if (options.inputs.empty()) Fail("no input files (see --help)");
        const std::vector<Task> tasks = PlanTasks(options);

        const std::uint32_t seed =
            options.seed.value_or(static_cast<std::uint32_t>(std::time(nullptr)));
        if (options.verbose) {
            std::fprintf(stderr, "moxel: seed %u; white %d, sizes %d to %d, density %d, shape %d\n",
                         seed, settings.clearFirst, settings.minSize, settings.maxSize,
                         settings.density, settings.shape);
        }
        return RunTasks(tasks, settings, seed, options);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "moxel: %s\n", e.message.c_str());
        return kUsageError;
    }
}
