// Entry point of the Windows program. No C runtime is linked: this takes the
// place of its start-up code, and supplies the two memory routines the
// compiler may call for copies and zero-filled records.
#include "common/platform.h"
#include "common/strings.h"
#include "main/uninstall.h"

extern "C" {

// The image is built as one whole program (-fwhole-program): what Windows
// and the compiler call from outside must say so.
#define PREUNINST_CALLED_FROM_OUTSIDE __attribute__((externally_visible, used))

// The compiler would turn these loops back into calls to themselves.
PREUNINST_CALLED_FROM_OUTSIDE
__attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memset(void* target, int value,
                                                                           size_t count) {
  unsigned char* bytes = static_cast<unsigned char*>(target);
  while (count-- != 0) *bytes++ = static_cast<unsigned char>(value);
  return target;
}

PREUNINST_CALLED_FROM_OUTSIDE
__attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memcpy(void* target, const void* source,
                                                                           size_t count) {
  unsigned char* to = static_cast<unsigned char*>(target);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  while (count-- != 0) *to++ = *from++;
  return target;
}

// Windows 95 starts a program with only 4-byte stack alignment.
PREUNINST_CALLED_FROM_OUTSIDE
__attribute__((force_align_arg_pointer)) void PreuninstStartup(void) {
  char* arguments = SkipProgramName(GetCommandLineA());
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoA(&startup);
  const int showState = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
  ExitProcess(static_cast<UINT>(UninstallMain(GetModuleHandleA(nullptr), arguments, showState)));
}

}  // extern "C"
