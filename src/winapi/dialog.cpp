// Dialogs and their controls: in-memory records that answer the messages a dialog procedure
// sends, driven by a test or tool in place of a user (see dialog_driver.h).
//
// The stand-in reads no templates: a control comes into being the first time its id is asked
// for, and becomes a scroll bar, check box or combo box by the first message only that kind
// answers. After that it answers as that kind and ignores the others' messages, as a real control
// of another class would.
#include <cstdio>
#include <memory>
#include <utility>

#include "standin/dialog_driver.h"
#include "standin/host_window.h"

namespace {

enum class ControlKind { Unknown, CheckBox, ScrollBar, ComboBox };

struct Control : StandinWindow {
    int id = 0;
    ControlKind kind = ControlKind::Unknown;
    std::string text;
    int checked = BST_UNCHECKED;
    int scrollMin = 0;
    int scrollMax = 0;
    int scrollPos = 0;
    std::vector<std::string> entries;
    int selection = CB_ERR;
};

struct Dialog : StandinWindow {
    DLGPROC dialogProcedure = nullptr;
    std::vector<std::unique_ptr<Control>> controls;
    bool ended = false;
    INT_PTR result = 0;
};

thread_local standin::DialogDriver driver;

// Whether `control` is, or may now become, of `kind`.
bool Becomes(Control& control, ControlKind kind) {
    if (control.kind == ControlKind::Unknown) control.kind = kind;
    return control.kind == kind;
}

LRESULT CheckBoxMessage(Control& box, UINT message, WPARAM wParam) {
    if (message == BM_SETCHECK) {
        box.checked = static_cast<int>(wParam);
        return 0;
    }
    return box.checked;  // BM_GETCHECK
}

LRESULT ComboBoxMessage(Control& list, UINT message, WPARAM wParam, LPARAM lParam) {
    const int count = static_cast<int>(list.entries.size());
    // Indexes travel in an unsigned WPARAM: -1 arrives as all ones and reads back as -1 here.
    const int index = static_cast<int>(wParam);
    switch (message) {
        case CB_INSERTSTRING: {
            if (index < -1 || index > count) return CB_ERR;
            const int at = index == -1 ? count : index;
            list.entries.insert(list.entries.begin() + at, reinterpret_cast<const char*>(lParam));
            if (list.selection >= at) ++list.selection;
            return at;
        }
        case CB_SETCURSEL:
            // Out of range, -1 included, clears the selection and reports CB_ERR.
            list.selection = index >= 0 && index < count ? index : CB_ERR;
            return list.selection;
        default:  // CB_GETCURSEL
            return list.selection;
    }
}

LRESULT CALLBACK ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Control& control = static_cast<Control&>(*window);
    switch (message) {
        case BM_SETCHECK:
        case BM_GETCHECK:
            return Becomes(control, ControlKind::CheckBox)
                       ? CheckBoxMessage(control, message, wParam)
                       : 0;
        case CB_INSERTSTRING:
        case CB_SETCURSEL:
        case CB_GETCURSEL:
            return Becomes(control, ControlKind::ComboBox)
                       ? ComboBoxMessage(control, message, wParam, lParam)
                       : 0;
        default:
            return 0;
    }
}

LRESULT CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog& dialog = static_cast<Dialog&>(*window);
    return dialog.dialogProcedure(window, message, wParam, lParam);
}

// Handles are checked by their procedure, so a host's window or a stray pointer to a control is
// never taken for a dialog.
Dialog* AsDialog(HWND window) {
    if (window == nullptr || window->procedure != &DialogProcedure) return nullptr;
    return static_cast<Dialog*>(window);
}

Control* AsControl(HWND window) {
    if (window == nullptr || window->procedure != &ControlProcedure) return nullptr;
    return static_cast<Control*>(window);
}

// The control `id` of `dialog` if it was ever asked for; the driver's readers make none.
Control* FindControl(HWND window, int id) {
    Dialog* dialog = AsDialog(window);
    if (dialog == nullptr) return nullptr;
    for (const auto& control : dialog->controls) {
        if (control->id == id) return control.get();
    }
    return nullptr;
}

}  // namespace

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC procedure, LPARAM initParam) {
    if (!driver) return 0;
    Dialog dialog;
    dialog.procedure = &DialogProcedure;
    dialog.dialogProcedure = procedure;
    SendMessageA(&dialog, WM_INITDIALOG, 0, initParam);
    // A copy: the driver may install another driver for dialogs it opens itself.
    const standin::DialogDriver drive = driver;
    drive(&dialog);
    // A driver that leaves the dialog open has closed it: nothing was confirmed.
    return dialog.ended ? dialog.result : 0;
}

BOOL EndDialog(HWND window, INT_PTR result) {
    Dialog* dialog = AsDialog(window);
    if (dialog == nullptr) return FALSE;
    dialog->ended = true;
    dialog->result = result;
    return TRUE;
}

HWND GetDlgItem(HWND window, int id) {
    Dialog* dialog = AsDialog(window);
    if (dialog == nullptr) return nullptr;
    if (Control* found = FindControl(window, id)) return found;
    auto control = std::make_unique<Control>();
    control->procedure = &ControlProcedure;
    control->id = id;
    dialog->controls.push_back(std::move(control));
    return dialog->controls.back().get();
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    Control* control = AsControl(GetDlgItem(dialog, id));
    if (control == nullptr) return FALSE;
    char digits[16];
    if (isSigned) {
        std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    } else {
        std::snprintf(digits, sizeof digits, "%u", value);
    }
    control->text = digits;
    return TRUE;
}

int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL) {
    Control* control = AsControl(window);
    if (control == nullptr || bar != SB_CTL || !Becomes(*control, ControlKind::ScrollBar)) return 0;
    if (info->fMask & SIF_RANGE) {
        control->scrollMin = info->nMin;
        control->scrollMax = info->nMax;
    }
    if (info->fMask & SIF_POS) control->scrollPos = info->nPos;
    // As Windows does, the thumb never leaves the range, whichever of the two just changed.
    if (control->scrollPos < control->scrollMin) control->scrollPos = control->scrollMin;
    if (control->scrollPos > control->scrollMax) control->scrollPos = control->scrollMax;
    return control->scrollPos;
}

namespace standin {

void SetDialogDriver(DialogDriver newDriver) { driver = std::move(newDriver); }

LRESULT SendScroll(HWND dialog, int barId, int code, int thumb) {
    return SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, thumb),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, barId)));
}

LRESULT SendClick(HWND dialog, int id) {
    constexpr WORD kClicked = 0;  // BN_CLICKED
    return SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, kClicked),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

LRESULT SendSysCommand(HWND dialog, WPARAM command) {
    return SendMessageA(dialog, WM_SYSCOMMAND, command, 0);
}

std::optional<ScrollBarState> ScrollBarOf(HWND dialog, int id) {
    const Control* bar = FindControl(dialog, id);
    if (bar == nullptr || bar->kind != ControlKind::ScrollBar) return std::nullopt;
    return ScrollBarState{bar->scrollMin, bar->scrollMax, bar->scrollPos};
}

std::string TextOf(HWND dialog, int id) {
    const Control* control = FindControl(dialog, id);
    return control != nullptr ? control->text : std::string();
}

std::vector<std::string> ListEntriesOf(HWND dialog, int id) {
    const Control* list = FindControl(dialog, id);
    return list != nullptr && list->kind == ControlKind::ComboBox ? list->entries
                                                                  : std::vector<std::string>();
}

bool DialogEnded(HWND dialog) {
    const Dialog* record = AsDialog(dialog);
    return record != nullptr && record->ended;
}

INT_PTR DialogResult(HWND dialog) {
    const Dialog* record = AsDialog(dialog);
    return record != nullptr ? record->result : 0;
}

}  // namespace standin
