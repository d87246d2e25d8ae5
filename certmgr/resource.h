// Identifiers of the certificate manager's resources, commands and controls.
#pragma once

#define IDD_CERT_MANAGER 102
#define IDI_MANAGER 128
#define IDI_KEY 131
#define IDR_MANAGER_MENU 138

#define IDC_CERT_LIST 1004

#define ID_INSTALL_KEY 32774
#define ID_REFRESH_LIST 32775
#define ID_CLOSE 32776
#define ID_VIEW_CERT 32777
#define ID_EXPORT_CERT 32778
#define ID_DELETE_CERT 32779
#define ID_USER_GUIDE 32780

// The system-menu item that opens the user guide.
#define IDM_ABOUT 16
