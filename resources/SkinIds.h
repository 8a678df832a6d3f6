/* Identifiers of the dialog skin's resources (bitmaps are language-neutral). */
#ifndef UPGRADE_RESOURCES_SKINIDS_H
#define UPGRADE_RESOURCES_SKINIDS_H

/* Caption buttons: five 27 x 27 cells, magenta transparent. */
#define IDB_CAPTION_BUTTONS 210

#endif
