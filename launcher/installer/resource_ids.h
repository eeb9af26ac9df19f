#pragma once

// Dialog templates and control identifiers of the installer's resources.
#define IDD_ERROR_DIALOG 101
#define IDD_PROGRESS 103
#define IDD_MISSING_RUNTIME 104

#define IDC_PROGRESS_BAR 1001
#define IDC_STATUS_LINE 1002
#define IDC_MESSAGE 1003
#define IDC_DOWNLOAD 1004
#define IDC_LOCATE 1005
#define IDC_ERROR_TEXT 1000
#define IDC_ERROR_LABEL 1001

#define IDI_APPLICATION_ICON 1001
