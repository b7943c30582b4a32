#ifndef PREUNINST_MAIN_UNINSTALL_H
#define PREUNINST_MAIN_UNINSTALL_H

#include "common/platform.h"

// 1 on Windows NT, 0 on Windows 95, kUnknownPlatform when the version cannot
// be read: then neither platform's removers run (COMMAND.COM in the Windows
// directory is no program of NT's, nor NT's removers Windows 95's).
const int kUnknownPlatform = -1;
int IsWindowsNT(void);

// One removal, from the confirmation to the restart notice. commandLine is the
// main uninstaller's command line and must be writable. Returns the process
// exit code: 1 when the user declines, else 0.
int UninstallMain(HINSTANCE instance, char* commandLine, int showState);

#endif
