/* Identifiers of the component selection dialog, its controls and its row
 * images. Plain preprocessor definitions, shared by selection.rc and the C++
 * sources. */
#ifndef UPGRADE_RESOURCES_SELECTIONIDS_H
#define UPGRADE_RESOURCES_SELECTIONIDS_H

#define IDD_SELECTION 201
#define IDB_SELECTION_ROWS 202 /* seven 16 x 16 images, magenta transparent */

#define IDC_SELECTION_LIST 201
#define IDC_SELECTION_PROMPT 203
#define IDC_SELECTION_SIZE 208
#define IDC_SELECTION_SIZE_LABEL 218

#endif /* UPGRADE_RESOURCES_SELECTIONIDS_H */
