// The host program: runs one removal on the emulated machine named by
// PREUNINST_MACHINE. Its arguments, joined with single blanks, are the main
// uninstaller's command line.
#include <stdio.h>

#include <string>
#include <vector>

#include "main/uninstall.h"
#include "win32/hostapi.h"

int main(int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += " ";
    arguments += argv[i];
  }
  std::string error;
  if (!HostOpenMachine(nullptr, &error)) {
    fprintf(stderr, "preuninst: %s\n", error.c_str());
    return 2;
  }
  HostSetCommandLine(("PREUNINST.EXE " + arguments).c_str());
  std::vector<char> commandLine(arguments.begin(), arguments.end());
  commandLine.push_back('\0');
  const int code = UninstallMain(nullptr, commandLine.data(), SW_SHOWDEFAULT);
  if (!HostSaveMachine(&error)) {
    fprintf(stderr, "preuninst: the registry could not be saved: %s\n", error.c_str());
    return 2;
  }
  return code;
}
