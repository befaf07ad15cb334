// The options dialog on Linux, driven through FilterOption with the messages a user's actions
// send, and read back from what its controls show.
#include "dialog/options_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "dialog/resource.h"
#include "plugin/plugin.h"
#include "settings/settings.h"
#include "standin/dialog_driver.h"
#include "standin/host_window.h"

namespace standin {
std::ostream& operator<<(std::ostream& out, const ScrollBarState& s) {
    return out << "{" << s.min << ".." << s.max << " at " << s.pos << "}";
}
}  // namespace standin

namespace {

using standin::ScrollBarOf;
using standin::ScrollBarState;
using standin::TextOf;

// The list's entries as the dialog must insert them: code-page-932 bytes.
const std::vector<std::string> kShapeNames = {
    "\x8A\xDB\x8C\x60",          // 丸形
    "\x8E\x4F\x8A\x70\x8C\x60",  // 三角形
    "\x8E\x6C\x8A\x70\x8C\x60",  // 四角形
    "\x8C\xDC\x8A\x70\x8C\x60",  // 五角形
    "\x98\x5A\x8A\x70\x8C\x60",  // 六角形
    "\x90\xAF\x8C\x60",          // 星形
};

struct Sizes {
    int minSize;
    int maxSize;
    int density;
    bool operator==(const Sizes&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sizes& s) {
    return out << "{min " << s.minSize << ", max " << s.maxSize << ", density " << s.density << "}";
}

int Clamp(int value, int lowest, int highest) {
    return value < lowest ? lowest : value > highest ? highest : value;
}

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

LRESULT Selection(HWND dialog) {
    return SendMessageA(Item(dialog, IDC_SHAPE_COMBO), CB_GETCURSEL, 0, 0);
}

LRESULT Checked(HWND dialog) {
    return SendMessageA(Item(dialog, IDC_CLEAR_CHECK), BM_GETCHECK, 0, 0);
}

// Everything the dialog shows of the three values: numbers and thumbs must agree with them, the
// thumbs held inside their bars' ranges.
void ExpectShows(HWND dialog, const Sizes& sizes, const std::string& context) {
    EXPECT_EQ(TextOf(dialog, IDC_MINSIZE_VALUE), std::to_string(sizes.minSize)) << context;
    EXPECT_EQ(TextOf(dialog, IDC_MAXSIZE_VALUE), std::to_string(sizes.maxSize)) << context;
    EXPECT_EQ(TextOf(dialog, IDC_DENSITY_VALUE), std::to_string(sizes.density)) << context;
    EXPECT_EQ(ScrollBarOf(dialog, IDC_MINSIZE_BAR),
              (ScrollBarState{2, 30, Clamp(sizes.minSize, 2, 30)}))
        << context;
    EXPECT_EQ(ScrollBarOf(dialog, IDC_MAXSIZE_BAR),
              (ScrollBarState{2, 30, Clamp(sizes.maxSize, 2, 30)}))
        << context;
    EXPECT_EQ(ScrollBarOf(dialog, IDC_DENSITY_BAR),
              (ScrollBarState{1, 100, Clamp(sizes.density, 1, 100)}))
        << context;
}

Sizes Current() { return {gSettings.minSize, gSettings.maxSize, gSettings.density}; }

class OptionsDialog : public ::testing::Test {
protected:
    void TearDown() override { standin::SetDialogDriver({}); }

    // FilterOption as a host calls it, with `drive` in the user's place.
    void Open(const standin::DialogDriver& drive) {
        opened = false;
        standin::SetDialogDriver([&](HWND dialog) {
            opened = true;
            drive(dialog);
        });
        EXPECT_EQ(FilterOption(&host, dir.directory().c_str()), 1);
        standin::SetDialogDriver({});
        ASSERT_TRUE(opened) << "FilterOption showed no dialog";
    }

    void WriteSettings(const std::string& text) { WriteFile(File(), text); }
    std::filesystem::path File() const { return dir.file(kSettingsFileName); }
    std::string FileText() const { return ReadFile(File()); }

    TempDir dir;
    StandinWindow host;  // the parent window a host passes
    bool opened = false;
};

TEST_F(OptionsDialog, OpensShowingTheDefaultsWithoutAFile) {
    Open([](HWND dialog) {
        ExpectShows(dialog, {4, 12, 30}, "defaults");
        EXPECT_EQ(standin::ListEntriesOf(dialog, IDC_SHAPE_COMBO), kShapeNames);
        EXPECT_EQ(Selection(dialog), 0) << "丸形 selected";
        EXPECT_EQ(Checked(dialog), BST_UNCHECKED);
        EXPECT_EQ(standin::SendClick(dialog, IDCANCEL), 0);
    });
    EXPECT_FALSE(std::filesystem::exists(File())) << "opening and cancelling wrote the file";
}

TEST_F(OptionsDialog, OpensShowingWhatTheFileHolds) {
    struct Case {
        std::string file;
        Sizes sizes;
        LRESULT checked;
        LRESULT selection;
    };
    for (const Case& c : {
             Case{"1 5 20 50 5\n", {5, 20, 50}, BST_CHECKED, 5},
             Case{"0 2 30 1 3", {2, 30, 1}, BST_UNCHECKED, 3},
             Case{"1\r\n30\r\n30\r\n100\r\n4\r\n", {30, 30, 100}, BST_CHECKED, 4},
             // The dialog does not correct the file: numbers show as they are, signed, and
             // only the thumbs stay inside their bars.
             Case{"0 -3 40 150 1", {-3, 40, 150}, BST_UNCHECKED, 1},
             Case{"0 0 1 0 2", {0, 1, 0}, BST_UNCHECKED, 2},
             // Anything but 1 leaves the box unchecked; a shape outside the list selects nothing.
             Case{"2 4 12 30 9", {4, 12, 30}, BST_UNCHECKED, CB_ERR},
             Case{"-1 4 12 30 -1", {4, 12, 30}, BST_UNCHECKED, CB_ERR},
             Case{"1 4 12 30 6", {4, 12, 30}, BST_CHECKED, CB_ERR},
         }) {
        WriteSettings(c.file);
        Open([&](HWND dialog) {
            ExpectShows(dialog, c.sizes, c.file);
            EXPECT_EQ(Checked(dialog), c.checked) << c.file;
            EXPECT_EQ(Selection(dialog), c.selection) << c.file;
            EXPECT_EQ(standin::ListEntriesOf(dialog, IDC_SHAPE_COMBO), kShapeNames) << c.file;
            standin::SendClick(dialog, IDCANCEL);
        });
        EXPECT_EQ(FileText(), c.file) << "cancel rewrote the file";
    }
}

// One scroll message to one bar, from the given values, and what the three values become.
struct ScrollCase {
    int bar;
    int code;
    int thumb;
    Sizes from;
    Sizes to;
};

std::ostream& operator<<(std::ostream& out, const ScrollCase& c) {
    return out << "bar " << c.bar << " code " << c.code << " thumb " << c.thumb << " from "
               << c.from;
}

constexpr int kDensity = IDC_DENSITY_BAR;
constexpr int kMin = IDC_MINSIZE_BAR;
constexpr int kMax = IDC_MAXSIZE_BAR;

const ScrollCase kScrollCases[] = {
    // Density: steps of 1 and 10 inside 1..100, the thumb taken as it comes.
    {kDensity, SB_LINELEFT, 0, {4, 12, 30}, {4, 12, 29}},
    {kDensity, SB_LINELEFT, 0, {4, 12, 2}, {4, 12, 1}},
    {kDensity, SB_LINELEFT, 0, {4, 12, 1}, {4, 12, 1}},
    {kDensity, SB_LINERIGHT, 0, {4, 12, 30}, {4, 12, 31}},
    {kDensity, SB_LINERIGHT, 0, {4, 12, 99}, {4, 12, 100}},
    {kDensity, SB_LINERIGHT, 0, {4, 12, 100}, {4, 12, 100}},
    {kDensity, SB_PAGELEFT, 0, {4, 12, 30}, {4, 12, 20}},
    {kDensity, SB_PAGELEFT, 0, {4, 12, 12}, {4, 12, 2}},
    {kDensity, SB_PAGELEFT, 0, {4, 12, 11}, {4, 12, 1}},
    {kDensity, SB_PAGELEFT, 0, {4, 12, 5}, {4, 12, 1}},
    {kDensity, SB_PAGERIGHT, 0, {4, 12, 30}, {4, 12, 40}},
    {kDensity, SB_PAGERIGHT, 0, {4, 12, 90}, {4, 12, 100}},
    {kDensity, SB_PAGERIGHT, 0, {4, 12, 89}, {4, 12, 99}},
    {kDensity, SB_PAGERIGHT, 0, {4, 12, 91}, {4, 12, 100}},
    {kDensity, SB_PAGERIGHT, 0, {4, 12, 95}, {4, 12, 100}},
    {kDensity, SB_THUMBPOSITION, 77, {4, 12, 30}, {4, 12, 77}},
    {kDensity, SB_THUMBTRACK, 3, {4, 12, 30}, {4, 12, 3}},
    {kDensity, SB_THUMBTRACK, 100, {4, 12, 30}, {4, 12, 100}},
    {kDensity, SB_LEFT, 0, {4, 12, 30}, {4, 12, 30}},
    {kDensity, SB_RIGHT, 0, {4, 12, 30}, {4, 12, 30}},
    {kDensity, SB_ENDSCROLL, 50, {4, 12, 30}, {4, 12, 30}},
    {kDensity, 0x1234, 50, {4, 12, 30}, {4, 12, 30}},
    // Minimum size: steps of 1 and 5 inside 2..30, pushing the maximum up ahead of it.
    {kMin, SB_LINELEFT, 0, {4, 12, 30}, {3, 12, 30}},
    {kMin, SB_LINELEFT, 0, {3, 12, 30}, {2, 12, 30}},
    {kMin, SB_LINELEFT, 0, {2, 12, 30}, {2, 12, 30}},
    {kMin, SB_LINELEFT, 0, {12, 12, 30}, {11, 12, 30}},
    {kMin, SB_LINERIGHT, 0, {4, 12, 30}, {5, 12, 30}},
    {kMin, SB_LINERIGHT, 0, {11, 12, 30}, {12, 12, 30}},
    {kMin, SB_LINERIGHT, 0, {12, 12, 30}, {13, 13, 30}},
    {kMin, SB_LINERIGHT, 0, {29, 29, 30}, {30, 30, 30}},
    {kMin, SB_LINERIGHT, 0, {30, 30, 30}, {30, 30, 30}},
    {kMin, SB_PAGELEFT, 0, {12, 20, 30}, {7, 20, 30}},
    {kMin, SB_PAGELEFT, 0, {8, 12, 30}, {3, 12, 30}},
    {kMin, SB_PAGELEFT, 0, {7, 12, 30}, {2, 12, 30}},
    {kMin, SB_PAGELEFT, 0, {3, 12, 30}, {2, 12, 30}},
    {kMin, SB_PAGERIGHT, 0, {4, 12, 30}, {9, 12, 30}},
    {kMin, SB_PAGERIGHT, 0, {7, 12, 30}, {12, 12, 30}},
    {kMin, SB_PAGERIGHT, 0, {10, 12, 30}, {15, 15, 30}},
    {kMin, SB_PAGERIGHT, 0, {21, 28, 30}, {26, 28, 30}},
    {kMin, SB_PAGERIGHT, 0, {25, 25, 30}, {30, 30, 30}},
    {kMin, SB_PAGERIGHT, 0, {26, 28, 30}, {30, 30, 30}},
    {kMin, SB_PAGERIGHT, 0, {27, 27, 30}, {30, 30, 30}},
    {kMin, SB_THUMBPOSITION, 8, {4, 12, 30}, {8, 12, 30}},
    {kMin, SB_THUMBPOSITION, 20, {4, 12, 30}, {20, 20, 30}},
    {kMin, SB_THUMBTRACK, 20, {4, 12, 30}, {20, 20, 30}},
    {kMin, SB_THUMBTRACK, 3, {10, 12, 30}, {3, 12, 30}},
    {kMin, SB_THUMBTRACK, 12, {4, 12, 30}, {12, 12, 30}},
    {kMin, SB_LEFT, 0, {4, 12, 30}, {4, 12, 30}},
    {kMin, SB_RIGHT, 0, {4, 12, 30}, {4, 12, 30}},
    {kMin, SB_ENDSCROLL, 20, {4, 12, 30}, {4, 12, 30}},
    // Maximum size: the mirror image, pulling the minimum down behind it.
    {kMax, SB_LINELEFT, 0, {4, 12, 30}, {4, 11, 30}},
    {kMax, SB_LINELEFT, 0, {4, 4, 30}, {3, 3, 30}},
    {kMax, SB_LINELEFT, 0, {3, 3, 30}, {2, 2, 30}},
    {kMax, SB_LINELEFT, 0, {2, 2, 30}, {2, 2, 30}},
    {kMax, SB_LINERIGHT, 0, {4, 12, 30}, {4, 13, 30}},
    {kMax, SB_LINERIGHT, 0, {4, 29, 30}, {4, 30, 30}},
    {kMax, SB_LINERIGHT, 0, {4, 30, 30}, {4, 30, 30}},
    {kMax, SB_PAGELEFT, 0, {4, 20, 30}, {4, 15, 30}},
    {kMax, SB_PAGELEFT, 0, {12, 12, 30}, {7, 7, 30}},
    {kMax, SB_PAGELEFT, 0, {10, 12, 30}, {7, 7, 30}},
    {kMax, SB_PAGELEFT, 0, {6, 12, 30}, {6, 7, 30}},
    {kMax, SB_PAGELEFT, 0, {3, 8, 30}, {3, 3, 30}},
    {kMax, SB_PAGELEFT, 0, {4, 7, 30}, {2, 2, 30}},
    {kMax, SB_PAGELEFT, 0, {3, 4, 30}, {2, 2, 30}},
    {kMax, SB_PAGERIGHT, 0, {4, 12, 30}, {4, 17, 30}},
    {kMax, SB_PAGERIGHT, 0, {4, 24, 30}, {4, 29, 30}},
    {kMax, SB_PAGERIGHT, 0, {4, 25, 30}, {4, 30, 30}},
    {kMax, SB_PAGERIGHT, 0, {4, 26, 30}, {4, 30, 30}},
    {kMax, SB_THUMBPOSITION, 20, {4, 12, 30}, {4, 20, 30}},
    {kMax, SB_THUMBPOSITION, 3, {4, 12, 30}, {3, 3, 30}},
    {kMax, SB_THUMBTRACK, 6, {4, 12, 30}, {4, 6, 30}},
    {kMax, SB_THUMBTRACK, 4, {4, 12, 30}, {4, 4, 30}},
    {kMax, SB_LEFT, 0, {4, 12, 30}, {4, 12, 30}},
    {kMax, SB_RIGHT, 0, {4, 12, 30}, {4, 12, 30}},
    {kMax, SB_ENDSCROLL, 3, {4, 12, 30}, {4, 12, 30}},
    // Values from a file outside the ranges: the rules apply as written, the thumbs stay in.
    {kDensity, SB_LINELEFT, 0, {4, 12, 150}, {4, 12, 149}},
    {kDensity, SB_LINERIGHT, 0, {4, 12, 150}, {4, 12, 150}},
    {kDensity, SB_LINELEFT, 0, {4, 12, 0}, {4, 12, 0}},
    {kDensity, SB_PAGERIGHT, 0, {4, 12, -20}, {4, 12, -10}},
    {kMin, SB_LINERIGHT, 0, {1, 1, 30}, {2, 2, 30}},
    {kMin, SB_LINELEFT, 0, {40, 50, 30}, {39, 50, 30}},
    {kMax, SB_LINERIGHT, 0, {4, 40, 30}, {4, 40, 30}},
    {kMax, SB_LINELEFT, 0, {4, 1, 30}, {4, 1, 30}},
};

class ScrollRule : public OptionsDialog, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(ScrollRule, ChangesTheValuesAndShowsThem) {
    const ScrollCase& c = GetParam();
    WriteSettings("0 " + std::to_string(c.from.minSize) + " " + std::to_string(c.from.maxSize) +
                  " " + std::to_string(c.from.density) + " 0\n");
    Open([&](HWND dialog) {
        ExpectShows(dialog, c.from, "before");
        EXPECT_EQ(standin::SendScroll(dialog, c.bar, c.code, c.thumb), 1);
        EXPECT_EQ(Current(), c.to);
        ExpectShows(dialog, c.to, "after");
        standin::SendClick(dialog, IDCANCEL);
    });
}

INSTANTIATE_TEST_SUITE_P(EveryBarAndCode, ScrollRule, ::testing::ValuesIn(kScrollCases));

// Several messages in a row within one opening of the dialog.
TEST_F(OptionsDialog, ScrollSequencesKeepTheSizesInStep) {
    struct Step {
        int bar;
        int code;
        int thumb;
        Sizes to;
    };
    struct Sequence {
        std::string file;
        std::vector<Step> steps;
    };
    for (const Sequence& s : {
             Sequence{"0 12 12 30 0",
                      {{kMin, SB_LINERIGHT, 0, {13, 13, 30}}, {kMax, SB_PAGELEFT, 0, {8, 8, 30}}}},
             Sequence{"0 4 7 30 0", {{kMax, SB_PAGELEFT, 0, {2, 2, 30}}}},
             Sequence{"0 27 28 30 0", {{kMin, SB_PAGERIGHT, 0, {30, 30, 30}}}},
             Sequence{"0 4 12 5 0",
                      {{kDensity, SB_PAGELEFT, 0, {4, 12, 1}},
                       {kDensity, SB_LINELEFT, 0, {4, 12, 1}},
                       {kDensity, SB_THUMBTRACK, 95, {4, 12, 95}},
                       {kDensity, SB_PAGERIGHT, 0, {4, 12, 100}}}},
             Sequence{"0 4 12 30 0",
                      {{kMin, SB_THUMBTRACK, 20, {20, 20, 30}},
                       {kMin, SB_THUMBPOSITION, 5, {5, 20, 30}},
                       {kMax, SB_THUMBTRACK, 2, {2, 2, 30}},
                       {kMin, SB_PAGERIGHT, 0, {7, 7, 30}}}},
         }) {
        WriteSettings(s.file);
        Open([&](HWND dialog) {
            for (const Step& step : s.steps) {
                EXPECT_EQ(standin::SendScroll(dialog, step.bar, step.code, step.thumb), 1);
                EXPECT_EQ(Current(), step.to) << s.file;
                ExpectShows(dialog, step.to, s.file);
            }
            standin::SendClick(dialog, IDCANCEL);
        });
    }
}

TEST_F(OptionsDialog, OkSavesAllFiveSettings) {
    struct Case {
        std::string file;  // empty: none
        std::function<void(HWND)> edit;
        std::string saved;
    };
    const auto untouched = [](HWND) {};
    for (const Case& c : {
             Case{"", untouched, "0 4 12 30 0\n"},
             Case{"1 5 20 50 5\n", untouched, "1 5 20 50 5\n"},
             Case{"",
                  [](HWND dialog) {
                      standin::SendScroll(dialog, kMin, SB_LINERIGHT);
                      standin::SendScroll(dialog, kMax, SB_PAGERIGHT);
                      standin::SendScroll(dialog, kDensity, SB_THUMBTRACK, 55);
                      SendMessageA(Item(dialog, IDC_CLEAR_CHECK), BM_SETCHECK, BST_CHECKED, 0);
                      SendMessageA(Item(dialog, IDC_SHAPE_COMBO), CB_SETCURSEL, Hexagon, 0);
                  },
                  "1 5 17 55 4\n"},
             Case{"1 5 20 50 5\n",
                  [](HWND dialog) {
                      SendMessageA(Item(dialog, IDC_CLEAR_CHECK), BM_SETCHECK, BST_UNCHECKED, 0);
                      SendMessageA(Item(dialog, IDC_SHAPE_COMBO), CB_SETCURSEL, Triangle, 0);
                  },
                  "0 5 20 50 1\n"},
             // A shape outside the list stores the list's "no selection", a clearFirst other
             // than 0 or 1 the box's state.
             Case{"2 4 12 30 9\n", untouched, "0 4 12 30 -1\n"},
             Case{"7 4 12 30 -4\n", untouched, "0 4 12 30 -1\n"},
             Case{"2 4 12 30 9\n",
                  [](HWND dialog) {
                      SendMessageA(Item(dialog, IDC_CLEAR_CHECK), BM_SETCHECK, BST_CHECKED, 0);
                      SendMessageA(Item(dialog, IDC_SHAPE_COMBO), CB_SETCURSEL, Star, 0);
                  },
                  "1 4 12 30 5\n"},
             // Values outside the bars' ranges are kept unless a bar moves them.
             Case{"0 -3 40 150 2\n", untouched, "0 -3 40 150 2\n"},
             // A short file: the fields it lacks keep what the previous case left in memory.
             Case{"1 6", untouched, "1 6 40 150 2\n"},
         }) {
        if (c.file.empty()) {
            std::filesystem::remove(File());
        } else {
            WriteSettings(c.file);
        }
        Open([&](HWND dialog) {
            c.edit(dialog);
            EXPECT_EQ(standin::SendClick(dialog, IDOK), 0);
            EXPECT_TRUE(standin::DialogEnded(dialog));
            EXPECT_EQ(standin::DialogResult(dialog), 1);
        });
        EXPECT_EQ(FileText(), c.saved) << "from \"" << c.file << "\"";
    }
}

// Cancel and the close box end the dialog with 0: the file stays as it was, and the next load
// undoes what the bars changed in memory.
TEST_F(OptionsDialog, CancelAndCloseSaveNothing) {
    struct Way {
        const char* name;
        std::function<LRESULT(HWND)> end;
    };
    const Way ways[] = {
        {"Cancel", [](HWND dialog) { return standin::SendClick(dialog, IDCANCEL); }},
        {"close box", [](HWND dialog) { return standin::SendSysCommand(dialog, SC_CLOSE); }},
        // Only the low word names the command.
        {"close box, high word set",
         [](HWND dialog) { return standin::SendSysCommand(dialog, MAKEWPARAM(SC_CLOSE, 7)); }},
    };
    for (const Way& way : ways) {
        for (const std::string file : {"", "1 5 20 50 5\n"}) {
            if (file.empty()) {
                std::filesystem::remove(File());
            } else {
                WriteSettings(file);
            }
            Open([&](HWND dialog) {
                standin::SendScroll(dialog, kMin, SB_PAGERIGHT);
                standin::SendScroll(dialog, kMax, SB_PAGERIGHT);
                standin::SendScroll(dialog, kDensity, SB_PAGELEFT);
                SendMessageA(Item(dialog, IDC_CLEAR_CHECK), BM_SETCHECK, BST_CHECKED, 0);
                SendMessageA(Item(dialog, IDC_SHAPE_COMBO), CB_SETCURSEL, Square, 0);
                EXPECT_EQ(way.end(dialog), 0) << way.name;
                EXPECT_TRUE(standin::DialogEnded(dialog)) << way.name;
                EXPECT_EQ(standin::DialogResult(dialog), 0) << way.name;
            });
            const StippleSettings fromFile =
                file.empty() ? kDefaultSettings : StippleSettings{1, 5, 20, 50, Star};
            // The bars wrote into the settings while the dialog was open; only they did.
            const StippleSettings edited = {fromFile.clearFirst, fromFile.minSize + 5,
                                            std::max(fromFile.maxSize + 5, fromFile.minSize + 5),
                                            fromFile.density - 10, fromFile.shape};
            EXPECT_EQ(gSettings, edited) << way.name;
            if (file.empty()) {
                EXPECT_FALSE(std::filesystem::exists(File())) << way.name;
            } else {
                EXPECT_EQ(FileText(), file) << way.name;
            }
            LoadSettings(dir.directory().c_str());
            EXPECT_EQ(gSettings, fromFile) << way.name;
        }
    }
}

TEST_F(OptionsDialog, OtherCommandsNeitherEndNorChangeAnything) {
    WriteSettings("1 5 20 50 5\n");
    Open([&](HWND dialog) {
        const LPARAM check = reinterpret_cast<LPARAM>(Item(dialog, IDC_CLEAR_CHECK));
        const LPARAM list = reinterpret_cast<LPARAM>(Item(dialog, IDC_SHAPE_COMBO));
        struct Message {
            UINT message;
            WPARAM wParam;
            LPARAM lParam;
        };
        constexpr WORD kSelectionChanged = 1;  // CBN_SELCHANGE
        for (const Message& m : {
                 Message{WM_COMMAND, MAKEWPARAM(IDC_CLEAR_CHECK, 0), check},
                 Message{WM_COMMAND, MAKEWPARAM(IDC_SHAPE_COMBO, kSelectionChanged), list},
                 Message{WM_COMMAND, MAKEWPARAM(3, 0), 0},
                 // IDOK and IDCANCEL in the high word are notification codes, not commands.
                 Message{WM_COMMAND, MAKEWPARAM(0, IDOK), 0},
                 Message{WM_COMMAND, MAKEWPARAM(0, IDCANCEL), 0},
                 Message{WM_SYSCOMMAND, 0xF020, 0},  // SC_MINIMIZE
                 Message{WM_SYSCOMMAND, 0xF010, 0},  // SC_MOVE
                 Message{WM_SYSCOMMAND, MAKEWPARAM(0, SC_CLOSE), 0},
                 Message{WM_CLOSE, 0, 0},
                 Message{WM_USER, 0, 0},
             }) {
            EXPECT_EQ(SendMessageA(dialog, m.message, m.wParam, m.lParam), 0)
                << std::hex << m.message << " " << m.wParam;
            EXPECT_FALSE(standin::DialogEnded(dialog)) << std::hex << m.message << " " << m.wParam;
        }
        EXPECT_EQ(gSettings, (StippleSettings{1, 5, 20, 50, Star}));
        ExpectShows(dialog, {5, 20, 50}, "after other commands");
        standin::SendClick(dialog, IDCANCEL);
    });
}

TEST_F(OptionsDialog, ScrollMessagesFromOtherWindowsAreIgnored) {
    WriteSettings("0 5 20 50 0\n");
    Open([&](HWND dialog) {
        StandinWindow stranger;
        for (const HWND from : {static_cast<HWND>(nullptr), &stranger, Item(dialog, IDOK),
                                Item(dialog, IDC_CLEAR_CHECK), Item(dialog, IDC_SHAPE_COMBO),
                                Item(dialog, IDC_DENSITY_VALUE)}) {
            for (const int code : {SB_LINELEFT, SB_PAGERIGHT, SB_THUMBTRACK}) {
                EXPECT_EQ(SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, 9),
                                       reinterpret_cast<LPARAM>(from)),
                          0);
            }
        }
        EXPECT_EQ(Current(), (Sizes{5, 20, 50}));
        ExpectShows(dialog, {5, 20, 50}, "after strangers' scrolls");
        standin::SendClick(dialog, IDCANCEL);
    });
}

TEST_F(OptionsDialog, InitialisingAgainReturnsOne) {
    Open([](HWND dialog) {
        EXPECT_EQ(SendMessageA(dialog, WM_INITDIALOG, 0, 0), 1);
        standin::SendClick(dialog, IDCANCEL);
    });
}

TEST_F(OptionsDialog, WithoutADialogNothingIsSaved) {
    // No driver: the stand-in fails the way Windows does for an invalid parent, with 0.
    WriteSettings("1 5 20 50 5\n");
    EXPECT_EQ(FilterOption(&host, dir.directory().c_str()), 1);
    EXPECT_EQ(FileText(), "1 5 20 50 5\n");
    std::filesystem::remove(File());
    EXPECT_EQ(FilterOption(&host, dir.directory().c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(File()));
}

}  // namespace
