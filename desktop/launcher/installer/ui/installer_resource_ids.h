// Ids of the installer window's resources, which the host executable carries and the library looks up with a null
// module handle. The host's resource script includes this file too, so it holds only preprocessor definitions.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_RESOURCE_IDS_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_RESOURCE_IDS_H_

#include "desktop/common/product/product_resource_ids.h"

// The window's icon.
#define IDI_INSTALLER 1

// Dialog templates: the main dialog and the options page embedded in it.
#define IDD_INSTALLER_MAIN 101
#define IDD_INSTALLER_OPTIONS 138

// Text resources of type "TXT": the terms of service (UTF-8, ending in NUL); the branding document and the
// language list are IDR_BRANDING and IDR_LANGUAGES.
#define IDR_TERMS 142

// Pictures: the background ("JPG") and the product picture and error badge ("PNG", with alpha).
#define IDR_BACKGROUND_PICTURE 139
#define IDR_PRODUCT_PICTURE 140
#define IDR_ERROR_BADGE 141

// Controls of the main dialog. None uses 1 or 2: the dialog manager sends those for Enter and Escape.
#define IDC_PRODUCT_PICTURE 1000
#define IDC_OPTIONS_BUTTON 1001
#define IDC_CANCEL_BUTTON 1002
#define IDC_ACCEPT_BUTTON 1003
#define IDC_FULL_PACKAGE_BUTTON 1004
#define IDC_RETRY_BUTTON 1005
#define IDC_UNINSTALL_BUTTON 1006
#define IDC_TITLE 1007
#define IDC_WELCOME_TEXT 1008
#define IDC_PROGRESS_HEADING 1009
#define IDC_ERROR_HEADING 1010
#define IDC_STATUS_TEXT 1011
#define IDC_TERMS_TEXT 1012
#define IDC_BACK_BUTTON 1013
#define IDC_PROGRESS_BAR 1025
#define IDC_UNINSTALL_HEADING 1028
#define IDC_DELETE_PROFILE_CHECK 1029
#define IDC_UNINSTALL_ERROR_HEADING 1036

// Controls of the options page.
#define IDC_LANGUAGE_LIST 1014
#define IDC_MODE_LIST 1015
#define IDC_FOLDER_COMBO 1016
#define IDC_BROWSE_BUTTON 1017
#define IDC_DEFAULT_BROWSER_CHECK 1022
#define IDC_IMPORT_DATA_CHECK 1023
#define IDC_SEND_STATS_CHECK 1024
#define IDC_FOLDER_WARNING 1027
#define IDC_LANGUAGE_LABEL 1030
#define IDC_MODE_LABEL 1031
#define IDC_FOLDER_LABEL 1032

// Strings, one table per language. An installer error code is also the id of its message; "$1" takes the error's
// detail, or the argument named beside the id.
#define IDS_WINDOW_CAPTION 37000
#define IDS_OK 37001
#define IDS_CANCEL 37002
#define IDS_YES 37003
#define IDS_NO 37004
#define IDS_WELCOME_TERMS 37005  // $1: the accept button's label; holds the terms link "tos"
#define IDS_OPTIONS 37006
#define IDS_ACCEPT_INSTALL 37007
#define IDS_ACCEPT_UPDATE 37008
#define IDS_BACK 37009
#define IDS_LANGUAGE_LABEL 37010
#define IDS_MODE_LABEL 37011
#define IDS_FOLDER_LABEL 37012
#define IDS_BROWSE 37013
#define IDS_FOLDER_UNUSABLE 37014
#define IDS_DEFAULT_BROWSER 37015
#define IDS_IMPORT_DATA 37016
#define IDS_SEND_STATS 37017
#define IDS_UNUSED_37018 37018
#define IDS_TITLE 37019  // $1: IDS_TITLE_PRODUCT
#define IDS_TITLE_PRODUCT 37020
#define IDS_PROGRESS_HEADING 37021
#define IDS_PHASE_DOWNLOADING 37022
#define IDS_PHASE_UNPACKING 37023
#define IDS_PHASE_INSTALLING 37024
#define IDS_PHASE_UNINSTALLING 37025
#define IDS_UNUSED_37026 37026
#define IDS_BROWSE_TITLE 37027
#define IDS_MODE_ALL_USERS 37028
#define IDS_MODE_CURRENT_USER 37029
#define IDS_MODE_STANDALONE 37030
#define IDS_UNINSTALL_HEADING 37031
#define IDS_DELETE_PROFILE 37032
#define IDS_UNINSTALL 37033
#define IDS_CONFIRM_CANCEL 37034
#define IDS_TIP_ALL_USERS 37035
#define IDS_TIP_ALL_USERS_TEXT 37036
#define IDS_TIP_CURRENT_USER 37037
#define IDS_TIP_CURRENT_USER_TEXT 37038
#define IDS_TIP_STANDALONE 37039
#define IDS_TIP_STANDALONE_TEXT 37040
#define IDS_ERROR_HEADING 37041
#define IDS_UNINSTALL_ERROR_HEADING 37042
#define IDS_RETRY 37043
#define IDS_FULL_PACKAGE 37044
#define IDS_OFFER_CURRENT_USER 37045
#define IDS_LANGUAGE_NAME 37046  // the language's own name, read in each language for the language list
// 37047 is IDS_AUTOUPDATE_TASK.
#define IDS_ERROR_DOWNLOAD 37048
#define IDS_ERROR_UNPACKING 37049
#define IDS_ERROR_GENERIC 37050
#define IDS_UNUSED_37051 37051
#define IDS_ERROR_MUTEX_HELD 37052
#define IDS_ERROR_NO_OPERATION 37053
#define IDS_ERROR_FOLDER_CREATION 37054  // $1: the folder
#define IDS_ERROR_NO_WRITE_ACCESS 37055
#define IDS_ERROR_ELEVATION 37056
#define IDS_ERROR_COPY 37057  // $1: the file
#define IDS_ERROR_BROWSER_RUNNING 37058
#define IDS_ERROR_OLD_WINDOWS 37059  // $1: IDS_FULL_PACKAGE
#define IDS_ERROR_NO_SSE2 37060

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_RESOURCE_IDS_H_
