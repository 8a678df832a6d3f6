// The program's own cabinet decoder behind the FDI interface of the Windows
// SDK (<fdi.h>): FDICreate, FDIIsCabinet, FDICopy, FDIDestroy, the error
// record and the notification callback. File access and memory go through
// the caller's callbacks; the decoding is the platform-neutral core in
// install/cab/. The program does not link the system's cabinet library.
#pragma once

#include <windows.h>
#include <fdi.h>
