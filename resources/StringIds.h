/* Identifiers of the program's string table and icon.
 *
 * Plain preprocessor definitions only, so that the .rc files and the C++
 * sources share this one header. Every IDS_ line below must have an entry in
 * each of the four string tables (strings_en_us.rc, strings_en_gb.rc,
 * strings_de.rc, strings_fr.rc); the resource test reads this file at build
 * time and checks that they do. Keep one definition per line.
 */
#ifndef UPGRADE_RESOURCES_STRINGIDS_H
#define UPGRADE_RESOURCES_STRINGIDS_H

/* The application icon (dialogs, progress window, status windows). */
#define IDI_APP 203

/* Captions of message boxes and windows, chosen by mode. */
#define IDS_CAPTION_WEBINSTALL 65535
#define IDS_CAPTION_UNINSTALL 99
#define IDS_CAPTION_UPDATE 102
#define IDS_CAPTION_DOWNLOAD 105
#define IDS_CAPTION_INSTALL 124
#define IDS_CAPTION_DEVICES_UPDATE 222

/* Start-up: single instance, rights, system libraries, last-resort errors.
 * IDS_PRODUCT_NAME is also the name of the uninstall registry key, so it is
 * the same text in every language. */
#define IDS_CATASTROPHIC_FAILURE 3
#define IDS_NOT_ADMINISTRATOR 4
#define IDS_NO_INSTALL_FOLDER 95
#define IDS_INTERNAL_ERROR 125
#define IDS_ALREADY_RUNNING 132
#define IDS_SYSTEM_COMPONENTS_MISSING 1001
#define IDS_CONFIRM_UNINSTALL 65529
#define IDS_PRODUCT_NAME 65531
#define IDS_NO_UNINSTALL_FILE 65533

/* Update flow: confirmation, catalogue fetch, one-component and quiet runs.
 * The catalogue URL and the site name are not translated. */
#define IDS_COMPONENT_NEEDS_UPDATE 96
#define IDS_CONFIRM_CONNECT 101
#define IDS_CONFIRM_ABORT_DOWNLOAD 111
#define IDS_SITE_DISPLAY_NAME 218
#define IDS_NEW_COMPONENTS 1004
#define IDS_CATALOG_DOWNLOAD_FAILED 1011
#define IDS_CATALOG_EXTRACT_FAILED 1012
#define IDS_CATALOG_NO_COMPONENTS 1013
#define IDS_DAMAGED_FILES_FOUND 1014
#define IDS_CATALOG_URL 1015

/* Component selection dialog: prompts, status texts, column heads. */
#define IDS_SELECT_DEVICES 94
#define IDS_SELECT_COMPONENTS 103
#define IDS_STATUS_UPDATE_AVAILABLE 227
#define IDS_STATUS_UP_TO_DATE 228
#define IDS_STATUS_NOT_INSTALLED 229
#define IDS_COLUMN_COMPONENT 1008
#define IDS_COLUMN_STATUS 1009
#define IDS_COLUMN_SIZE 1010

/* Progress display: current item, durations, transfer rates. */
#define IDS_DURATION_SECONDS 128
#define IDS_DURATION_MINUTES_SECONDS 129
#define IDS_DURATION_MINUTES 130
#define IDS_INSTALLING_COMPONENT 230
#define IDS_DOWNLOADING_FILE 231
#define IDS_RATE_MEGABYTES 232
#define IDS_RATE_KILOBYTES 233
#define IDS_RATE_BYTES 234
#define IDS_TIME_LEFT 235

/* Installation worker: file replacement, registration, hooks and the
 * status lines of the completion window. */
#define IDS_COPYING_FILE 117
#define IDS_TARGET_READ_ONLY 118
#define IDS_COPY_FAILED 119
#define IDS_COPY_SUCCEEDED 120
#define IDS_DELETE_TEMP_FAILED 121
#define IDS_STATUS_COPYING 122
#define IDS_STATUS_DECOMPRESSING 123
#define IDS_STATUS_REGISTERING 127
#define IDS_FILE_COUNT 209
#define IDS_STATUS_EXECUTING 211

/* Cabinet extraction failures. */
#define IDS_CABINET_EXTRACT_FAILED 97
#define IDS_CABINET_NOT_FOUND 114
#define IDS_CABINET_CORRUPTED 115
#define IDS_CABINET_OPEN_FAILED 116

/* Completion: restart of the computer or of the manager. */
#define IDS_CONFIRM_RESTART_MANAGER 110
#define IDS_CONFIRM_REBOOT 112
#define IDS_REBOOT_FAILED 113
#define IDS_RESTARTING_MANAGER 210

/* Host application control: closing and restarting the manager. */
#define IDS_MANAGER_RUNNING_UNINSTALL 100
#define IDS_MANAGER_RUNNING_UPDATE 108
#define IDS_MANAGER_START_FAILED 109
#define IDS_PROGRAM_RUNNING 208

/* Uninstaller: questions, progress window lines, final messages. */
#define IDS_UNINSTALL_SUCCEEDED 5
#define IDS_UNINSTALL_SHELL_MISSING 98
#define IDS_CONFIRM_REMOVE_AUDIO 104
#define IDS_VERIFYING_INSTALLATION 212
#define IDS_STATUS_DELETING_FILE 213
#define IDS_STATUS_REMOVING_FOLDER 214
#define IDS_STATUS_REMOVING_SHORTCUTS 215
#define IDS_STATUS_REMOVING_REGISTRY 216
#define IDS_CONFIRM_CANCEL_UNINSTALL 237
#define IDS_UNINSTALL_REBOOT 65530

/* Host application control: a plug-in file that cannot be deleted while the
 * manager is down, and a manager that does not close when asked. */
#define IDS_DELETE_PLUGIN_FAILED 5001
#define IDS_MANAGER_DID_NOT_CLOSE 5002

/* Installation: a failed update and what its restore left. */
#define IDS_UPDATE_RESTORED 5003
#define IDS_UPDATE_NOT_RESTORED 5004

/* The dry run's report: a run that changed nothing says what it would do. */
#define IDS_DRY_RUN_REPORT 5005
#define IDS_DRY_RUN_COMPONENT 5006
#define IDS_DRY_RUN_NOTHING 5007
#define IDS_DRY_RUN_RESTART 5008
#define IDS_DRY_RUN_DETAILS 5009

#endif /* UPGRADE_RESOURCES_STRINGIDS_H */
