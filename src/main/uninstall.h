#ifndef PREUNINST_MAIN_UNINSTALL_H
#define PREUNINST_MAIN_UNINSTALL_H

#include "common/platform.h"

// 1 on Windows NT, 0 on Windows 95 or when the version cannot be read.
int IsWindowsNT(void);

// One removal, from the confirmation to the restart notice. commandLine is the
// main uninstaller's command line and must be writable. Returns the process
// exit code: 1 when the user declines, else 0.
int UninstallMain(HINSTANCE instance, char* commandLine, int showState);

#endif
