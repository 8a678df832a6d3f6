/* Identifiers of the host control dialogs and their controls: the request to
 * exit the download manager and the completion (status) window.
 * Plain preprocessor definitions, shared by host.rc and the C++ sources. */
#ifndef UPGRADE_RESOURCES_HOSTIDS_H
#define UPGRADE_RESOURCES_HOSTIDS_H

#define IDD_EXIT_DOWNLOAD_MANAGER 225
#define IDC_EXIT_REQUEST_TEXT 1226

#define IDD_COMPLETION 206
#define IDC_COMPLETION_ICON 1207
#define IDC_COMPLETION_HEADLINE 210
#define IDC_COMPLETION_FIRST_PATH 211
#define IDC_COMPLETION_SECOND_PATH 212

#endif /* UPGRADE_RESOURCES_HOSTIDS_H */
