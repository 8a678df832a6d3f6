/* Identifiers of the uninstall progress window and its two lines.
 * Plain preprocessor definitions, shared by uninstall.rc and the C++ sources. */
#ifndef UPGRADE_RESOURCES_UNINSTALLIDS_H
#define UPGRADE_RESOURCES_UNINSTALLIDS_H

#define IDD_UNINSTALL_PROGRESS 207
#define IDC_UNINSTALL_STATUS 210
#define IDC_UNINSTALL_DETAIL 211

#endif /* UPGRADE_RESOURCES_UNINSTALLIDS_H */
