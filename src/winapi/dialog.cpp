// Dialogs and their controls: in-memory records that answer the messages a dialog procedure
// sends, driven by a test or tool in place of a user (see dialog_driver.h).
#include <cstdio>
#include <memory>
#include <utility>

#include "standin/dialog_driver.h"
#include "standin/host_window.h"

namespace {

enum class ControlKind { Button, CheckBox, Static, ScrollBar, ComboBox };

struct Control : StandinWindow {
    int id = 0;
    ControlKind kind = ControlKind::Static;
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

// The controls of the one template the plug-in has, dialog 101, by id: what a procedure can
// reach with GetDlgItem. Labels are left out of the texts: nothing on Linux draws them.
struct TemplateControl {
    int id;
    ControlKind kind;
};
constexpr int kOptionsTemplate = 101;
constexpr TemplateControl kOptionsControls[] = {
    {IDOK, ControlKind::Button},      // OK
    {IDCANCEL, ControlKind::Button},  // Cancel
    {1000, ControlKind::ScrollBar},   // density
    {1002, ControlKind::Static},      // density, the number
    {1011, ControlKind::Static},      // density, the label
    {1001, ControlKind::CheckBox},    // clear first
    {1012, ControlKind::Static},      // minimum size, the label
    {1003, ControlKind::Static},      // minimum size, the number
    {1004, ControlKind::ScrollBar},   // minimum size
    {1008, ControlKind::ScrollBar},   // maximum size
    {1010, ControlKind::Static},      // maximum size, the label
    {1009, ControlKind::Static},      // maximum size, the number
    {1014, ControlKind::ComboBox},    // shape
    {1015, ControlKind::Static},      // shape, the label
};

thread_local standin::DialogDriver driver;

LRESULT CheckBoxMessage(Control& box, UINT message, WPARAM wParam) {
    switch (message) {
        case BM_SETCHECK:
            box.checked = static_cast<int>(wParam);
            return 0;
        case BM_GETCHECK:
            return box.checked;
        default:
            return 0;
    }
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
        case CB_GETCURSEL:
            return list.selection;
        default:
            return 0;
    }
}

LRESULT CALLBACK ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Control& control = static_cast<Control&>(*window);
    switch (control.kind) {
        case ControlKind::CheckBox:
            return CheckBoxMessage(control, message, wParam);
        case ControlKind::ComboBox:
            return ComboBoxMessage(control, message, wParam, lParam);
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

Control* ControlOf(HWND dialog, int id) { return AsControl(GetDlgItem(dialog, id)); }

}  // namespace

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND, DLGPROC procedure, LPARAM initParam) {
    if (!driver) return 0;
    if (reinterpret_cast<UINT_PTR>(templateName) != kOptionsTemplate) return -1;

    Dialog dialog;
    dialog.procedure = &DialogProcedure;
    dialog.dialogProcedure = procedure;
    for (const TemplateControl& item : kOptionsControls) {
        auto control = std::make_unique<Control>();
        control->procedure = &ControlProcedure;
        control->id = item.id;
        control->kind = item.kind;
        dialog.controls.push_back(std::move(control));
    }
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
    for (const auto& control : dialog->controls) {
        if (control->id == id) return control.get();
    }
    return nullptr;
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    Control* control = ControlOf(dialog, id);
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
    if (control == nullptr || control->kind != ControlKind::ScrollBar || bar != SB_CTL) return 0;
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
    const Control* bar = ControlOf(dialog, id);
    if (bar == nullptr || bar->kind != ControlKind::ScrollBar) return std::nullopt;
    return ScrollBarState{bar->scrollMin, bar->scrollMax, bar->scrollPos};
}

std::string TextOf(HWND dialog, int id) {
    const Control* control = ControlOf(dialog, id);
    return control != nullptr ? control->text : std::string();
}

std::vector<std::string> ListEntriesOf(HWND dialog, int id) {
    const Control* list = ControlOf(dialog, id);
    return list != nullptr ? list->entries : std::vector<std::string>();
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
