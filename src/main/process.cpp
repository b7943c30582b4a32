#include "main/process.h"

int RunProgram(char* commandLine, int visible, const char* title) {
  return RunProgramThen(commandLine, visible, title, nullptr, nullptr);
}

int RunProgramThen(char* commandLine, int visible, const char* title, void (*started)(void* context),
                   void* context) {
  // Nothing to start; CreateProcessA would only fail.
  if (commandLine == nullptr || commandLine[0] == '\0') return 0;

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.lpDesktop = nullptr;
  startup.lpTitle = const_cast<char*>(title);
  if (visible == 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  } else {
    // Without STARTF_USESHOWWINDOW the program decides for itself.
    startup.dwFlags = 0;
    startup.wShowWindow = SW_SHOWDEFAULT;
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                      nullptr, &startup, &process)) {
    return 0;
  }
  if (started != nullptr) started(context);
  DWORD exitCode = 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = 0xFFFFFFFF;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return exitCode == 0 ? 1 : 0;
}
