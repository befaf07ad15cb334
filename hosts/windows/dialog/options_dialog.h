// The options dialog: FilterOption's body and the dialog procedure behind resource 101.
#pragma once

#include <windows.h>

// Loads the settings from `settingsDirectory`, runs the modal dialog from the template in
// `instance` over `parent`, and saves the settings when the dialog ends with anything but 0.
// Always 1.
int ShowOptionsDialog(HINSTANCE instance, HWND parent, const char* settingsDirectory);

// The procedure of dialog 101. 1 after WM_INITDIALOG and after WM_HSCROLL from one of its three
// bars; 0 for everything else.
INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
