/* Identifiers of the progress dialog, its controls and its Setup picture.
 * Plain preprocessor definitions, shared by progress.rc and the C++ sources. */
#ifndef UPGRADE_RESOURCES_PROGRESSIDS_H
#define UPGRADE_RESOURCES_PROGRESSIDS_H

#define IDD_PROGRESS 104
#define IDB_PROGRESS_BANNER 141

#define IDC_PROGRESS_PLACEHOLDER 214 /* frame the picture takes the place of */
#define IDC_PROGRESS_PICTURE 141     /* the picture, hidden until Setup shows it */
#define IDC_PROGRESS_LINE 215        /* separator; its top is the collapse height */
#define IDC_PROGRESS_COMPONENT 1005
#define IDC_PROGRESS_FILE 1006
#define IDC_PROGRESS_BAR 1003
#define IDC_PROGRESS_PERCENT 1004
#define IDC_PROGRESS_TIME_LEFT 4361
#define IDC_PROGRESS_RATE 4368

#endif /* UPGRADE_RESOURCES_PROGRESSIDS_H */
