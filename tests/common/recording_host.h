// A host for tests: an image of its own, row callbacks that record every call, and a progress
// window that records every message. RowProcs carry no context, so the host in use is global.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "render/host.h"
#ifndef _WIN32
#include "standin/host_window.h"
#endif

struct RowCall {
    bool write;
    int row;
    int first;
    int last;
    bool operator==(const RowCall&) const = default;
};

struct HostMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const HostMessage&) const = default;
};

class RecordingHost {
public:
    // An image whose every byte differs from its neighbours', so a misplaced copy shows.
    RecordingHost(int width, int height) : size{width, height} {
        if (width > 0 && height > 0) {
            image.resize(static_cast<std::size_t>(width) * height * 3);
            for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<BYTE>(i * 7 + 3);
        }
        current = this;
        window = MakeWindow();
    }
    ~RecordingHost() {
        DestroyWindowOf(window);
        current = nullptr;
    }
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    ImageSize size;
    std::vector<BYTE> image;  // host row r at r * width * 3, blue-green-red
    std::vector<RowCall> rowCalls;
    std::vector<HostMessage> messages;
    // Everything the host saw, in order: 'r' a read, 'w' a write, 'm' a message.
    std::string events;
    RowProc reader = &Read;  // the locations the plug-in is handed
    RowProc writer = &Write;
    HWND window;

    BYTE* Pixel(int column, int row) {
        return image.data() + (static_cast<std::size_t>(row) * size.width + column) * 3;
    }

    std::vector<RowCall> WholeRowCalls(bool write) const {
        std::vector<RowCall> calls;
        for (const RowCall& call : rowCalls) {
            if (call.write == write && !(call.first == call.last && size.width > 1)) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    static inline RecordingHost* current = nullptr;

private:
    static int WINAPI Read(int row, int first, int last, BYTE* buffer, int flag) {
        RecordingHost& host = *current;
        host.rowCalls.push_back({false, row, first, last});
        host.events += 'r';
        if (flag == -1 && last >= first) {
            const BYTE* from = host.Pixel(first, row);
            std::copy(from, from + (last - first + 1) * 3, buffer);
        }
        return 1;
    }

    static int WINAPI Write(int row, int first, int last, BYTE* buffer, int flag) {
        RecordingHost& host = *current;
        host.rowCalls.push_back({true, row, first, last});
        host.events += 'w';
        if (flag == -1 && last >= first) {
            std::copy(buffer, buffer + (last - first + 1) * 3, host.Pixel(first, row));
        }
        return 1;
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_USER && current != nullptr) {
            current->messages.push_back({message, wParam, lParam});
            current->events += 'm';
            return 0;
        }
#ifdef _WIN32
        return DefWindowProcA(window, message, wParam, lParam);
#else
        (void)window;
        return 0;
#endif
    }

#ifdef _WIN32
    static HWND MakeWindow() {
        static const ATOM windowClass = [] {
            WNDCLASSA description{};
            description.lpfnWndProc = &Procedure;
            description.hInstance = GetModuleHandleA(nullptr);
            description.lpszClassName = "MoxelRecordingHost";
            return RegisterClassA(&description);
        }();
        (void)windowClass;
        return CreateWindowExA(0, "MoxelRecordingHost", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    }
    static void DestroyWindowOf(HWND window) { DestroyWindow(window); }
#else
    StandinWindow record_{.procedure = &Procedure};
    HWND MakeWindow() { return &record_; }
    static void DestroyWindowOf(HWND) {}
#endif
};
