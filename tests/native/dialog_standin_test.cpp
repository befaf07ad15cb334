// The stand-in's dialog services on their own, under a procedure of the test's: what a dialog
// procedure may rely on from them on Linux. The stand-in reads no templates, so any name and any
// ids serve.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "standin/dialog_driver.h"
#include "standin/host_window.h"

namespace {

const LPCSTR kAnyTemplate = MAKEINTRESOURCEA(7);

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen;

INT_PTR CALLBACK Recording(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back({message, wParam, lParam});
    return 42;
}

class DialogStandin : public ::testing::Test {
protected:
    void SetUp() override { seen.clear(); }
    void TearDown() override { standin::SetDialogDriver({}); }

    INT_PTR Show(const standin::DialogDriver& drive, LPCSTR name = kAnyTemplate) {
        standin::SetDialogDriver(drive);
        return DialogBoxParamA(nullptr, name, nullptr, &Recording, 1234);
    }
};

TEST_F(DialogStandin, WithoutADriverMakesNoDialogAndReturnsZero) {
    EXPECT_EQ(DialogBoxParamA(nullptr, kAnyTemplate, nullptr, &Recording, 0), 0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(DialogStandin, InitialisesThenDrivesThenReturnsTheEndResult) {
    for (const INT_PTR result : {INT_PTR{1}, INT_PTR{0}, INT_PTR{7}, INT_PTR{-5}}) {
        seen.clear();
        EXPECT_EQ(Show([&](HWND dialog) {
                      ASSERT_EQ(seen, (std::vector<Seen>{{WM_INITDIALOG, 0, 1234}}));
                      EXPECT_FALSE(standin::DialogEnded(dialog));
                      // The procedure's own result comes back from SendMessageA.
                      EXPECT_EQ(SendMessageA(dialog, WM_USER, 5, 6), 42);
                      EXPECT_TRUE(EndDialog(dialog, result));
                      EXPECT_TRUE(standin::DialogEnded(dialog));
                      EXPECT_EQ(standin::DialogResult(dialog), result);
                  }),
                  result);
        EXPECT_EQ(seen.back(), (Seen{WM_USER, 5, 6}));
    }
}

TEST_F(DialogStandin, ADialogLeftOpenByItsDriverReturnsZero) {
    EXPECT_EQ(Show([](HWND) {}), 0);
}

TEST_F(DialogStandin, HelpersSendTheMessagesControlsSend) {
    Show([](HWND dialog) {
        seen.clear();
        standin::SendScroll(dialog, 12, SB_THUMBTRACK, 17);
        standin::SendClick(dialog, IDOK);
        standin::SendSysCommand(dialog, SC_CLOSE);
        EXPECT_EQ(seen,
                  (std::vector<Seen>{
                      {WM_HSCROLL, 0x00110005, reinterpret_cast<LPARAM>(GetDlgItem(dialog, 12))},
                      {WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK))},
                      {WM_SYSCOMMAND, SC_CLOSE, 0}}));
        EndDialog(dialog, 0);
    });
}

TEST_F(DialogStandin, MakesOneControlPerIdOnFirstUse) {
    Show([](HWND dialog) {
        constexpr int kIds[] = {IDOK, 3, 1000, 0, -1, 65535};
        std::vector<HWND> made;
        for (const int id : kIds) {
            const HWND control = GetDlgItem(dialog, id);
            EXPECT_NE(control, nullptr) << id;
            EXPECT_EQ(std::count(made.begin(), made.end(), control), 0) << id;
            made.push_back(control);
        }
        for (std::size_t i = 0; i < made.size(); ++i) {
            EXPECT_EQ(GetDlgItem(dialog, kIds[i]), made[i]) << kIds[i];
        }
        // Only a dialog has items; neither a control nor a host's window is taken for one.
        StandinWindow host;
        EXPECT_EQ(GetDlgItem(GetDlgItem(dialog, 1000), 1000), nullptr);
        EXPECT_EQ(GetDlgItem(&host, 1000), nullptr);
        EXPECT_EQ(GetDlgItem(nullptr, 1000), nullptr);
        EXPECT_FALSE(SetDlgItemInt(&host, 1000, 1, TRUE));
        EXPECT_FALSE(EndDialog(&host, 1));
        EXPECT_FALSE(EndDialog(GetDlgItem(dialog, IDOK), 1));
        EndDialog(dialog, 0);
    });
}

TEST_F(DialogStandin, SetDlgItemIntFormatsSignedOrUnsigned) {
    Show([](HWND dialog) {
        struct Case {
            UINT value;
            BOOL isSigned;
            std::string text;
        };
        for (const Case& c :
             {Case{30, TRUE, "30"}, Case{0, TRUE, "0"}, Case{static_cast<UINT>(-3), TRUE, "-3"},
              Case{static_cast<UINT>(-3), FALSE, "4294967293"},
              Case{0x80000000u, TRUE, "-2147483648"}, Case{0x80000000u, FALSE, "2147483648"}}) {
            EXPECT_TRUE(SetDlgItemInt(dialog, 22, c.value, c.isSigned));
            EXPECT_EQ(standin::TextOf(dialog, 22), c.text);
        }
        EndDialog(dialog, 0);
    });
}

TEST_F(DialogStandin, SetScrollInfoHonoursTheMaskAndKeepsTheThumbInRange) {
    Show([](HWND dialog) {
        const HWND bar = GetDlgItem(dialog, 21);
        struct Step {
            UINT mask;
            int min, max, pos;
            standin::ScrollBarState after;
        };
        for (const Step& s : {
                 Step{SIF_RANGE | SIF_POS, 1, 100, 30, {1, 100, 30}},
                 Step{SIF_POS, 900, 900, 55, {1, 100, 55}},  // range untouched
                 Step{SIF_RANGE, 2, 30, 77, {2, 30, 30}},    // position clamped, not set
                 Step{SIF_POS, 0, 0, 1, {2, 30, 2}},         // clamped up
                 Step{SIF_POS, 0, 0, 31, {2, 30, 30}},       // clamped down
                 Step{SIF_PAGE, 5, 6, 7, {2, 30, 30}},       // neither range nor position
                 Step{SIF_RANGE | SIF_POS, -10, 10, -4, {-10, 10, -4}},
             }) {
            const SCROLLINFO info{28, s.mask, s.min, s.max, 0, s.pos, 0};
            EXPECT_EQ(SetScrollInfo(bar, SB_CTL, &info, TRUE), s.after.pos);
            EXPECT_EQ(standin::ScrollBarOf(dialog, 21), s.after);
        }
        EndDialog(dialog, 0);
    });
}

// The first message only one kind answers decides the kind; each then ignores the others'.
TEST_F(DialogStandin, AControlKeepsTheKindItsFirstMessageGave) {
    Show([](HWND dialog) {
        enum { kBar = 21, kBox = 23, kList = 24 };
        const SCROLLINFO info{28, SIF_RANGE | SIF_POS, 1, 9, 0, 5, 0};
        EXPECT_EQ(SetScrollInfo(GetDlgItem(dialog, kBar), SB_CTL, &info, TRUE), 5);
        SendMessageA(GetDlgItem(dialog, kBox), BM_GETCHECK, 0, 0);
        SendMessageA(GetDlgItem(dialog, kList), CB_GETCURSEL, 0, 0);
        for (const int id : {kBar, kBox, kList}) {
            const HWND control = GetDlgItem(dialog, id);
            const SCROLLINFO other{28, SIF_RANGE | SIF_POS, 2, 4, 0, 3, 0};
            EXPECT_EQ(SetScrollInfo(control, SB_CTL, &other, TRUE), id == kBar ? 3 : 0) << id;
            SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
            EXPECT_EQ(SendMessageA(control, BM_GETCHECK, 0, 0), id == kBox ? BST_CHECKED : 0) << id;
            SendMessageA(control, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("x"));
            EXPECT_EQ(standin::ListEntriesOf(dialog, id),
                      id == kList ? std::vector<std::string>{"x"} : std::vector<std::string>{})
                << id;
        }
        EXPECT_EQ(standin::ScrollBarOf(dialog, kBar), (standin::ScrollBarState{2, 4, 3}));
        EXPECT_EQ(standin::ScrollBarOf(dialog, kBox), std::nullopt);
        EXPECT_EQ(standin::ScrollBarOf(dialog, kList), std::nullopt);
        // A text decides nothing: a control given one still becomes what it is first used as.
        EXPECT_TRUE(SetDlgItemInt(dialog, 25, 8, TRUE));
        EXPECT_EQ(SetScrollInfo(GetDlgItem(dialog, 25), SB_CTL, &info, TRUE), 5);
        EndDialog(dialog, 0);
    });
}

TEST_F(DialogStandin, CheckBoxKeepsItsState) {
    Show([](HWND dialog) {
        const HWND box = GetDlgItem(dialog, 23);
        EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_CHECKED);
        SendMessageA(box, BM_SETCHECK, BST_UNCHECKED, 0);
        EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        EndDialog(dialog, 0);
    });
}

TEST_F(DialogStandin, ComboBoxInsertsSelectsAndReportsNoSelection) {
    Show([](HWND dialog) {
        const HWND list = GetDlgItem(dialog, 24);
        auto insert = [&](int at, const char* text) {
            return SendMessageA(list, CB_INSERTSTRING, static_cast<WPARAM>(at),
                                reinterpret_cast<LPARAM>(text));
        };
        auto select = [&](int index) {
            return SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        };
        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), CB_ERR) << "starts without a selection";
        EXPECT_EQ(insert(0, "b"), 0);
        EXPECT_EQ(insert(0, "a"), 0);
        EXPECT_EQ(insert(-1, "d"), 2);  // -1 appends
        EXPECT_EQ(insert(2, "c"), 2);
        EXPECT_EQ(insert(9, "x"), CB_ERR);
        EXPECT_EQ(standin::ListEntriesOf(dialog, 24),
                  (std::vector<std::string>{"a", "b", "c", "d"}));

        EXPECT_EQ(select(3), 3);
        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 3);
        EXPECT_EQ(insert(0, "0"), 0);
        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 4) << "the selection moves along";
        for (const int outside : {5, 9, -1, -7}) {
            EXPECT_EQ(select(2), 2);
            EXPECT_EQ(select(outside), CB_ERR) << outside;
            EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), CB_ERR) << outside;
        }
        EndDialog(dialog, 0);
    });
}

}  // namespace
