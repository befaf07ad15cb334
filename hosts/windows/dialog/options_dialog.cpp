#include "dialog/options_dialog.h"

#include "dialog/resource.h"
#include "settings/contract.h"
#include "settings/settings.h"

namespace {

// The dialog is modal and there is only ever one, so its state is the module's.
HWND densityBar = nullptr;
HWND minSizeBar = nullptr;
HWND maxSizeBar = nullptr;
HWND clearCheck = nullptr;
// One record serves all three bars; fMask says which of its fields a call means.
SCROLLINFO scrollInfo = {28, 0, 0, 0, 0, 0, 0};
static_assert(sizeof(SCROLLINFO) == 28);

// The list's entries in ShapeKind order, as code-page-932 bytes: the list is an ANSI control.
constexpr const char* kShapeNames[] = {
    "\x8A\xDB\x8C\x60",          // 丸形 round
    "\x8E\x4F\x8A\x70\x8C\x60",  // 三角形 triangle
    "\x8E\x6C\x8A\x70\x8C\x60",  // 四角形 quadrilateral
    "\x8C\xDC\x8A\x70\x8C\x60",  // 五角形 pentagon
    "\x98\x5A\x8A\x70\x8C\x60",  // 六角形 hexagon
    "\x90\xAF\x8C\x60",          // 星形 star
};

void SetUpBar(HWND bar, int lowest, int highest, int position) {
    scrollInfo.fMask = SIF_RANGE | SIF_POS;
    scrollInfo.nMin = lowest;
    scrollInfo.nMax = highest;
    scrollInfo.nPos = position;
    SetScrollInfo(bar, SB_CTL, &scrollInfo, TRUE);
}

void MoveThumb(HWND bar, int position) {
    scrollInfo.fMask = SIF_POS;
    scrollInfo.nPos = position;
    SetScrollInfo(bar, SB_CTL, &scrollInfo, TRUE);
}

void InitDialog(HWND dialog) {
    SetDlgItemInt(dialog, IDC_DENSITY_VALUE, gSettings.density, TRUE);
    SetDlgItemInt(dialog, IDC_MINSIZE_VALUE, gSettings.minSize, TRUE);
    SetDlgItemInt(dialog, IDC_MAXSIZE_VALUE, gSettings.maxSize, TRUE);

    densityBar = GetDlgItem(dialog, IDC_DENSITY_BAR);
    SetUpBar(densityBar, kDensityLowest, kDensityHighest, gSettings.density);
    minSizeBar = GetDlgItem(dialog, IDC_MINSIZE_BAR);
    SetUpBar(minSizeBar, kSizeLowest, kSizeHighest, gSettings.minSize);
    maxSizeBar = GetDlgItem(dialog, IDC_MAXSIZE_BAR);
    SetUpBar(maxSizeBar, kSizeLowest, kSizeHighest, gSettings.maxSize);

    // Only an exact 1 checks the box: any other value from the file shows unchecked.
    clearCheck = GetDlgItem(dialog, IDC_CLEAR_CHECK);
    if (gSettings.clearFirst == 1) SendMessageA(clearCheck, BM_SETCHECK, BST_CHECKED, 0);

    const HWND list = GetDlgItem(dialog, IDC_SHAPE_COMBO);
    WPARAM position = 0;
    for (const char* name : kShapeNames) {
        SendMessageA(list, CB_INSERTSTRING, position++, reinterpret_cast<LPARAM>(name));
    }
    // A shape outside the list leaves it without a selection.
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(gSettings.shape), 0);
}

void ScrollDensity(int code, int thumb) {
    int& density = gSettings.density;
    switch (code) {
        case SB_LINELEFT:
            if (density > kDensityLowest) --density;
            break;
        case SB_LINERIGHT:
            if (density < kDensityHighest) ++density;
            break;
        case SB_PAGELEFT:
            density = density <= 11 ? kDensityLowest : density - 10;
            break;
        case SB_PAGERIGHT:
            density = density >= 91 ? kDensityHighest : density + 10;
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            density = thumb;
            break;
        default:
            break;
    }
}

// The minimum size moves and pushes the maximum up ahead of it, so the two never cross.
void ScrollMinSize(int code, int thumb) {
    int& minSize = gSettings.minSize;
    int& maxSize = gSettings.maxSize;
    switch (code) {
        case SB_LINELEFT:
            if (minSize > kSizeLowest) --minSize;
            break;
        case SB_LINERIGHT:
            if (minSize < kSizeHighest) {
                ++minSize;
                KeepSizesInOrder(gSettings, SettingField::MinSize);
            }
            break;
        case SB_PAGELEFT:
            minSize = minSize <= 7 ? kSizeLowest : minSize - 5;
            break;
        case SB_PAGERIGHT:
            if (minSize >= 26) {
                minSize = maxSize = kSizeHighest;
            } else {
                minSize += 5;
                KeepSizesInOrder(gSettings, SettingField::MinSize);
            }
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            minSize = thumb;
            KeepSizesInOrder(gSettings, SettingField::MinSize);
            break;
        default:
            break;
    }
}

// The mirror image: the maximum size pulls the minimum down behind it.
void ScrollMaxSize(int code, int thumb) {
    int& minSize = gSettings.minSize;
    int& maxSize = gSettings.maxSize;
    switch (code) {
        case SB_LINELEFT:
            if (maxSize > kSizeLowest) {
                --maxSize;
                KeepSizesInOrder(gSettings, SettingField::MaxSize);
            }
            break;
        case SB_LINERIGHT:
            if (maxSize < kSizeHighest) ++maxSize;
            break;
        case SB_PAGELEFT:
            if (maxSize <= 7) {
                maxSize = minSize = kSizeLowest;
            } else {
                maxSize -= 5;
                KeepSizesInOrder(gSettings, SettingField::MaxSize);
            }
            break;
        case SB_PAGERIGHT:
            maxSize = maxSize >= 26 ? kSizeHighest : maxSize + 5;
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            maxSize = thumb;
            KeepSizesInOrder(gSettings, SettingField::MaxSize);
            break;
        default:
            break;
    }
}

INT_PTR HorizontalScroll(HWND dialog, int code, int thumb, HWND bar) {
    if (bar == densityBar) {
        ScrollDensity(code, thumb);
        MoveThumb(densityBar, gSettings.density);
        SetDlgItemInt(dialog, IDC_DENSITY_VALUE, gSettings.density, TRUE);
        return 1;
    }
    if (bar == minSizeBar || bar == maxSizeBar) {
        if (bar == minSizeBar) {
            ScrollMinSize(code, thumb);
        } else {
            ScrollMaxSize(code, thumb);
        }
        // Either bar may have moved the other's value: both thumbs and numbers follow.
        MoveThumb(minSizeBar, gSettings.minSize);
        MoveThumb(maxSizeBar, gSettings.maxSize);
        SetDlgItemInt(dialog, IDC_MINSIZE_VALUE, gSettings.minSize, TRUE);
        SetDlgItemInt(dialog, IDC_MAXSIZE_VALUE, gSettings.maxSize, TRUE);
        return 1;
    }
    return 0;
}

}  // namespace

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitDialog(dialog);
            return 1;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    gSettings.clearFirst =
                        static_cast<int>(SendMessageA(clearCheck, BM_GETCHECK, 0, 0));
                    gSettings.shape = static_cast<int>(
                        SendMessageA(GetDlgItem(dialog, IDC_SHAPE_COMBO), CB_GETCURSEL, 0, 0));
                    EndDialog(dialog, 1);
                    break;
                case IDCANCEL:
                    EndDialog(dialog, 0);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_SYSCOMMAND:
            // Returning 0 lets the system's own close run as well; the result is 0 either way.
            if (LOWORD(wParam) == SC_CLOSE) EndDialog(dialog, 0);
            return 0;
        case WM_HSCROLL:
            return HorizontalScroll(dialog, LOWORD(wParam), HIWORD(wParam),
                                    reinterpret_cast<HWND>(lParam));
        default:
            return 0;
    }
}

int ShowOptionsDialog(HINSTANCE instance, HWND parent, const char* settingsDirectory) {
    LoadSettings(settingsDirectory);
    // -1 (no dialog could be made) is not 0 either, and saves what was loaded.
    if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_OPTIONS), parent, OptionsDialogProc, 0) !=
        0) {
        SaveSettings(settingsDirectory);
    }
    return 1;
}
