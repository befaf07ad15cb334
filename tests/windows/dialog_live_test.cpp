// The real options dialog, opened by FilterOption from MOXEL.dll as a host opens it, and worked
// from a second thread the way a user's clicks would: scroll bars, the check box, the list, OK,
// Cancel and the close box. Needs a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "dialog/resource.h"
#include "windows/rc_dialog.h"

namespace {

using FilterOptionFn = int(WINAPI*)(HWND, const char*);
using namespace std::chrono_literals;

struct Bar {
    int min = 0, max = 0, pos = 0;
    bool operator==(const Bar&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Bar& b) {
    return out << "{" << b.min << ".." << b.max << " at " << b.pos << "}";
}

// What the dialog shows, read from the driving thread.
struct Shown {
    int minSize = 0, maxSize = 0, density = 0;
    Bar minBar, maxBar, densityBar;
    LRESULT checked = -2;
    LRESULT selection = -2;
    LRESULT entries = -2;
    bool operator==(const Shown&) const = default;
};

Bar BarOf(HWND dialog, int id) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_POS;
    if (!GetScrollInfo(GetDlgItem(dialog, id), SB_CTL, &info)) return {-1, -1, -1};
    return {info.nMin, info.nMax, info.nPos};
}

int NumberOf(HWND dialog, int id) {
    BOOL ok = FALSE;
    const int value = static_cast<int>(GetDlgItemInt(dialog, id, &ok, TRUE));
    return ok ? value : -9999;
}

Shown Read(HWND dialog) {
    Shown s;
    s.minSize = NumberOf(dialog, IDC_MINSIZE_VALUE);
    s.maxSize = NumberOf(dialog, IDC_MAXSIZE_VALUE);
    s.density = NumberOf(dialog, IDC_DENSITY_VALUE);
    s.minBar = BarOf(dialog, IDC_MINSIZE_BAR);
    s.maxBar = BarOf(dialog, IDC_MAXSIZE_BAR);
    s.densityBar = BarOf(dialog, IDC_DENSITY_BAR);
    s.checked = SendMessageW(GetDlgItem(dialog, IDC_CLEAR_CHECK), BM_GETCHECK, 0, 0);
    s.selection = SendMessageW(GetDlgItem(dialog, IDC_SHAPE_COMBO), CB_GETCURSEL, 0, 0);
    s.entries = SendMessageW(GetDlgItem(dialog, IDC_SHAPE_COMBO), CB_GETCOUNT, 0, 0);
    return s;
}

Shown Showing(int minSize, int maxSize, int density, LRESULT checked, LRESULT selection) {
    return {minSize, maxSize,   density, {2, 30, minSize}, {2, 30, maxSize}, {1, 100, density},
            checked, selection, 6};
}

void PrintTo(const Shown& s, std::ostream* out) {
    *out << "sizes " << s.minSize << "/" << s.maxSize << " density " << s.density << " bars "
         << s.minBar << s.maxBar << s.densityBar << " checked " << s.checked << " selection "
         << s.selection << " entries " << s.entries;
}

void Scroll(HWND dialog, int bar, int code, int thumb = 0) {
    SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(code, thumb),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, bar)));
}

void Click(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Close(HWND dialog) { SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The dialog that `thread` shows, once it is up; nullptr when none comes. Found by its class
// and thread, not its caption: under another ANSI code page Wine shows the caption as "??".
HWND WaitForDialog(DWORD thread) {
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < deadline) {
        HWND found = nullptr;
        EnumThreadWindows(thread, &FindDialog, reinterpret_cast<LPARAM>(&found));
        if (found != nullptr) return found;
        std::this_thread::sleep_for(20ms);
    }
    return nullptr;
}

class LiveDialog : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryA("MOXEL.dll");
        ASSERT_NE(module, nullptr);
        filterOption = reinterpret_cast<FilterOptionFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "FilterOption")));
        ASSERT_NE(filterOption, nullptr);
    }
    void TearDown() override {
        if (module != nullptr) FreeLibrary(module);
    }

    // FilterOption on this thread, the modal loop and all, while `drive` works the dialog from
    // another. The driver only records; the checks run here once the dialog is gone.
    void Open(const std::function<void(HWND)>& drive) {
        const DWORD self = GetCurrentThreadId();
        bool found = false;
        bool stillOpen = false;
        std::thread driver([&] {
            const HWND dialog = WaitForDialog(self);
            if (dialog == nullptr) return;
            found = true;
            drive(dialog);
            // Should the dialog not have ended, cancel it after a grace period rather than
            // leave the test hanging in the modal loop.
            for (int i = 0; i < 250 && IsWindow(dialog); ++i) std::this_thread::sleep_for(20ms);
            if (IsWindow(dialog)) {
                stillOpen = true;
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            }
        });
        EXPECT_EQ(filterOption(nullptr, dir.directory().c_str()), 1);
        driver.join();
        ASSERT_TRUE(found) << "no dialog appeared";
        EXPECT_FALSE(stillOpen) << "the dialog did not end";
    }

    std::filesystem::path File() const { return dir.file("moxel5.dat"); }

    HMODULE module = nullptr;
    FilterOptionFn filterOption = nullptr;
    TempDir dir;
};

TEST_F(LiveDialog, OpensWithTheDefaultsAndItsControls) {
    Shown shown;
    std::vector<int> tabOrder;
    Open([&](HWND dialog) {
        shown = Read(dialog);
        HWND at = GetDlgItem(dialog, IDOK);
        for (int i = 0; i < 5 && at != nullptr; ++i) {
            tabOrder.push_back(GetDlgCtrlID(at));
            at = GetNextDlgTabItem(dialog, at, FALSE);
        }
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(shown, Showing(4, 12, 30, BST_UNCHECKED, 0));
    // Tab visits the buttons, the box and the list only, and comes round again.
    EXPECT_EQ(tabOrder, (std::vector<int>{IDOK, IDCANCEL, IDC_CLEAR_CHECK, IDC_SHAPE_COMBO, IDOK}));
    EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(LiveDialog, BarsBoxAndListThenOkSaveAllFive) {
    Shown afterScrolls;
    Open([&](HWND dialog) {
        Scroll(dialog, IDC_MINSIZE_BAR, SB_LINERIGHT);
        Scroll(dialog, IDC_MAXSIZE_BAR, SB_PAGERIGHT);
        Scroll(dialog, IDC_DENSITY_BAR, SB_THUMBTRACK, 55);
        Scroll(dialog, IDC_DENSITY_BAR, SB_ENDSCROLL);
        SendMessageW(GetDlgItem(dialog, IDC_CLEAR_CHECK), BM_SETCHECK, BST_CHECKED, 0);
        SendMessageW(GetDlgItem(dialog, IDC_SHAPE_COMBO), CB_SETCURSEL, 4, 0);
        afterScrolls = Read(dialog);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(afterScrolls, Showing(5, 17, 55, BST_CHECKED, 4));
    EXPECT_EQ(ReadFile(File()), "1 5 17 55 4\r\n");
}

TEST_F(LiveDialog, TheSizeBarsMoveEachOther) {
    WriteFile(File(), "0 12 12 30 2\r\n");
    std::vector<Shown> steps;
    Open([&](HWND dialog) {
        Scroll(dialog, IDC_MINSIZE_BAR, SB_LINERIGHT);
        steps.push_back(Read(dialog));
        Scroll(dialog, IDC_MAXSIZE_BAR, SB_PAGELEFT);
        steps.push_back(Read(dialog));
        Scroll(dialog, IDC_MINSIZE_BAR, SB_THUMBPOSITION, 20);
        steps.push_back(Read(dialog));
        Scroll(dialog, IDC_MAXSIZE_BAR, SB_PAGELEFT);
        steps.push_back(Read(dialog));
        Click(dialog, IDOK);
    });
    EXPECT_EQ(steps,
              (std::vector<Shown>{
                  Showing(13, 13, 30, BST_UNCHECKED, 2), Showing(8, 8, 30, BST_UNCHECKED, 2),
                  Showing(20, 20, 30, BST_UNCHECKED, 2), Showing(15, 15, 30, BST_UNCHECKED, 2)}));
    EXPECT_EQ(ReadFile(File()), "0 15 15 30 2\r\n");
}

TEST_F(LiveDialog, CancelAndTheCloseBoxLeaveTheFileAsItWas) {
    const std::pair<const char*, std::function<void(HWND)>> ways[] = {
        {"Cancel", [](HWND dialog) { Click(dialog, IDCANCEL); }},
        {"close box", [](HWND dialog) { Close(dialog); }},
    };
    for (const auto& [name, end] : ways) {
        for (const std::string file : {"", "1 5 20 50 5\r\n"}) {
            std::filesystem::remove(File());
            if (!file.empty()) WriteFile(File(), file);
            Open([&](HWND dialog) {
                Scroll(dialog, IDC_MINSIZE_BAR, SB_PAGERIGHT);
                Scroll(dialog, IDC_MAXSIZE_BAR, SB_LINELEFT);
                Scroll(dialog, IDC_DENSITY_BAR, SB_PAGELEFT);
                SendMessageW(GetDlgItem(dialog, IDC_SHAPE_COMBO), CB_SETCURSEL, 1, 0);
                end(dialog);
            });
            if (file.empty()) {
                EXPECT_FALSE(std::filesystem::exists(File())) << name;
            } else {
                EXPECT_EQ(ReadFile(File()), file) << name;
            }
        }
    }
}

TEST_F(LiveDialog, OutOfRangeShapeAndClearFirstFromTheFile) {
    WriteFile(File(), "2 4 12 30 9\r\n");
    Shown shown;
    Open([&](HWND dialog) {
        shown = Read(dialog);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(shown, Showing(4, 12, 30, BST_UNCHECKED, CB_ERR));
    EXPECT_EQ(ReadFile(File()), "0 4 12 30 -1\r\n");
}

std::wstring TextOf(HWND window) {
    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);
    return text;
}

// Wine makes an ANSI dialog's windows through the ANSI code page, and the list is filled with
// code-page-932 bytes: only where 932 is the ANSI code page do the texts come out as written, the
// template's as hosts/windows/moxel.rc has them.
TEST_F(LiveDialog, ShowsItsJapaneseTextsUnderCodePage932) {
    if (GetACP() != 932) GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 932";
    rc::Dialog source;
    try {
        source = rc::ReadDialog(MOXEL_RC);
    } catch (const std::exception& error) {
        FAIL() << MOXEL_RC << ": " << error.what();
    }
    std::wstring caption;
    std::vector<std::wstring> labels, written;
    std::vector<std::wstring> names;
    Open([&](HWND dialog) {
        caption = TextOf(dialog);
        for (const rc::Control& control : source.controls) {
            if (control.text.name.empty()) continue;
            labels.push_back(TextOf(GetDlgItem(dialog, control.id)));
            written.emplace_back(control.text.name.begin(), control.text.name.end());
        }
        const HWND list = GetDlgItem(dialog, IDC_SHAPE_COMBO);
        for (int i = 0; i < SendMessageW(list, CB_GETCOUNT, 0, 0); ++i) {
            wchar_t text[32] = {};
            SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            names.push_back(text);
        }
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(caption, std::wstring(source.caption.begin(), source.caption.end()));
    EXPECT_EQ(labels, written);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"丸形", L"三角形", L"四角形", L"五角形", L"六角形",
                                                L"星形"}));
}

}  // namespace
