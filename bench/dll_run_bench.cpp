// The Windows plug-in's whole run, timed through MOXEL.dll's own export as a host calls it, so
// the shapes go through real GDI. Run under Wine by scripts/bench.sh; prints ns per shape.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using RowProc = int(WINAPI*)(int, int, int, BYTE*, int);
struct ImageSize {
    LONG width;
    LONG height;
};
using FilterProcFn = int(WINAPI*)(HWND, const ImageSize*, RowProc*, RowProc*, const char*);

std::vector<BYTE> source, result;
int imageWidth = 0;

int WINAPI ReadRow(int row, int first, int last, BYTE* buffer, int) {
    std::memcpy(buffer, &source[(static_cast<std::size_t>(row) * imageWidth + first) * 3],
                (last - first + 1) * 3u);
    return 1;
}

int WINAPI WriteRow(int row, int first, int last, BYTE* buffer, int) {
    std::memcpy(&result[(static_cast<std::size_t>(row) * imageWidth + first) * 3], buffer,
                (last - first + 1) * 3u);
    return 1;
}

LRESULT CALLBACK Quiet(HWND window, UINT message, WPARAM w, LPARAM l) {
    return message == WM_USER ? 0 : DefWindowProcA(window, message, w, l);
}

}  // namespace

int main() {
    HMODULE module = LoadLibraryA("MOXEL.dll");
    auto filterProc = reinterpret_cast<FilterProcFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "FilterProc")));
    if (filterProc == nullptr) {
        std::fprintf(stderr, "cannot load MOXEL.dll\n");
        return 1;
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &Quiet;
    windowClass.lpszClassName = "MoxelBenchHost";
    RegisterClassA(&windowClass);
    HWND progress = CreateWindowExA(0, "MoxelBenchHost", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string directory = std::string(temp) + "moxel-bench\\";
    CreateDirectoryA(directory.c_str(), nullptr);

    std::printf("%-18s %12s\n", "scenario", "ns/shape");
    const int sizes[][2] = {{640, 480}, {1000, 1000}, {4000, 3000}};
    for (const auto& size : sizes) {
        for (int shape : {0, 5}) {
            // Defaults but for the shape; the median of three runs: density 30, sizes 4 to 11.
            FILE* settings = std::fopen((directory + "moxel5.dat").c_str(), "wt");
            std::fprintf(settings, "0 4 12 30 %d\n", shape);
            std::fclose(settings);

            imageWidth = size[0];
            source.assign(static_cast<std::size_t>(size[0]) * size[1] * 3, 0);
            for (std::size_t i = 0; i < source.size(); ++i)
                source[i] = static_cast<BYTE>(i * 7 / 3);
            result.assign(source.size(), 0);
            RowProc reader = &ReadRow, writer = &WriteRow;
            const ImageSize image{size[0], size[1]};
            const double shapes = static_cast<double>(size[0]) * size[1] * 30 / 100 / 4;

            std::vector<double> times;
            for (int repeat = 0; repeat < 3; ++repeat) {
                const auto start = std::chrono::steady_clock::now();
                if (filterProc(progress, &image, &writer, &reader, directory.c_str()) != 1) {
                    std::fprintf(stderr, "run failed\n");
                    return 1;
                }
                times.push_back(std::chrono::duration<double, std::nano>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
            }
            std::sort(times.begin(), times.end());
            const std::string name = std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                                     (shape == 0 ? "/circle" : "/star");
            std::printf("%-18s %12.1f\n", name.c_str(), times[1] / shapes);
        }
    }
    DeleteFileA((directory + "moxel5.dat").c_str());
    RemoveDirectoryA(directory.c_str());
    return 0;
}
