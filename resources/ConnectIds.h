/* Identifiers of the connect dialog (the catalogue fetch) and its step
 * markers. Plain preprocessor definitions, shared by connect.rc and the C++
 * sources. */
#ifndef UPGRADE_RESOURCES_CONNECTIDS_H
#define UPGRADE_RESOURCES_CONNECTIDS_H

#define IDD_CONNECT 202

/* Icons of the step markers, both 14 x 9: a finished step, the step under way. */
#define IDI_CONNECT_CHECK 204
#define IDI_CONNECT_STEP 205

/* Step k's marker and text, k = 1 .. 4. */
#define IDC_CONNECT_MARKER1 204
#define IDC_CONNECT_MARKER2 205
#define IDC_CONNECT_MARKER3 208
#define IDC_CONNECT_MARKER4 210
#define IDC_CONNECT_STEP1 206
#define IDC_CONNECT_STEP2 207
#define IDC_CONNECT_STEP3 209
#define IDC_CONNECT_STEP4 211
#define IDC_CONNECT_GROUP 219

#endif /* UPGRADE_RESOURCES_CONNECTIDS_H */
