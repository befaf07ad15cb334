// Dialogs of the stand-in, for tests and tools: who drives a modal dialog on Linux, and what its
// controls show.
//
// There is no user on Linux, so DialogBoxParamA hands the freshly initialised dialog to a driver
// installed by the caller. The driver sends the dialog real messages (the helpers below send them
// as the controls would) and reads the controls back; it ends the dialog through the dialog's own
// procedure, by OK, Cancel or the close box. Without a driver DialogBoxParamA makes no dialog and
// returns 0, as Windows does for an invalid parent window.
//
// The stand-in reads no dialog templates, so it takes any template name. A control exists from
// the first time its id is asked for (GetDlgItem, SetDlgItemInt, the helpers below), and its kind
// from the first message only one kind answers: SetScrollInfo makes a scroll bar, BM_SETCHECK or
// BM_GETCHECK a check box, CB_INSERTSTRING, CB_SETCURSEL or CB_GETCURSEL a combo box. From then
// on it ignores the other kinds' messages. Any control takes a text from SetDlgItemInt.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// Runs inside DialogBoxParamA, after WM_INITDIALOG, on the calling thread.
using DialogDriver = std::function<void(HWND dialog)>;

// Installs the driver for this thread's dialogs; an empty one removes it.
void SetDialogDriver(DialogDriver driver);

// WM_HSCROLL from bar `barId`: MAKEWPARAM(code, thumb), the bar as lParam. The stand-in returns
// what the dialog procedure returned, here and for every message sent to a dialog.
LRESULT SendScroll(HWND dialog, int barId, int code, int thumb = 0);
// WM_COMMAND as a click on button `id` sends it: BN_CLICKED, the button as lParam.
LRESULT SendClick(HWND dialog, int id);
// WM_SYSCOMMAND, as the window menu or the close box sends it.
LRESULT SendSysCommand(HWND dialog, WPARAM command);

struct ScrollBarState {
    int min;
    int max;
    int pos;
    bool operator==(const ScrollBarState&) const = default;
};

// The range and position of scroll bar `id`; nothing when control `id` was never made a scroll
// bar. These readers make no controls.
std::optional<ScrollBarState> ScrollBarOf(HWND dialog, int id);
// The text that control `id` shows; empty for a control never given one.
std::string TextOf(HWND dialog, int id);
// The entries of list `id`, in order, as the bytes they were inserted with; none for a control
// that is not a combo box.
std::vector<std::string> ListEntriesOf(HWND dialog, int id);

// Whether EndDialog was called on the dialog, and with what.
bool DialogEnded(HWND dialog);
INT_PTR DialogResult(HWND dialog);

}  // namespace standin
