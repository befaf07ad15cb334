// Ids of the options dialog's template (moxel.rc) and of its controls.
#pragma once

#define IDD_OPTIONS 101

#define IDC_DENSITY_BAR 1000
#define IDC_CLEAR_CHECK 1001
#define IDC_DENSITY_VALUE 1002
#define IDC_MINSIZE_VALUE 1003
#define IDC_MINSIZE_BAR 1004
#define IDC_MAXSIZE_BAR 1008
#define IDC_MAXSIZE_VALUE 1009
#define IDC_MAXSIZE_LABEL 1010
#define IDC_DENSITY_LABEL 1011
#define IDC_MINSIZE_LABEL 1012
#define IDC_SHAPE_COMBO 1014
#define IDC_SHAPE_LABEL 1015
