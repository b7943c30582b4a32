// The one platform header of the core: the real Win32 headers on Windows,
// our own subset everywhere else.
#ifndef PREUNINST_COMMON_PLATFORM_H
#define PREUNINST_COMMON_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
// The native calls' types; the calls themselves are looked up at run time.
#include <winternl.h>
// The types of the security and NETAPI32 calls, looked up at run time too.
#include <aclapi.h>
#include <lm.h>
#else
#include "win32/windows.h"
#endif

#endif
