// What only the host layer offers: opening and saving the emulated machine,
// and the powers tests need that real Windows has no call for (a key that
// refuses access, a file in use, a failing call).
#ifndef PREUNINST_WIN32_HOSTAPI_H
#define PREUNINST_WIN32_HOSTAPI_H

#include <string>

// Opens the machine in directory (PREUNINST_MACHINE when null) and reads its
// settings and registry. False, with the reason, when it cannot be used;
// nothing is changed then.
bool HostOpenMachine(const char* directory, std::string* error);

// Writes the registry back when it changed. False, with the reason, when it
// could not be written.
bool HostSaveMachine(std::string* error);

// Forgets the machine without saving; the next call opens it again.
void HostCloseMachine();

// The command line GetCommandLineA gives.
void HostSetCommandLine(const char* commandLine);

// The host path that a Windows path maps to on the machine (empty when its
// directory does not exist).
std::string HostPathOf(const char* windowsPath);

// Adds a key to the machine's [denied keys] and a path to its [in use], for
// the rest of the run.
void HostDenyKey(const char* keyPath);
void HostMarkInUse(const char* windowsPath);

// Answers message boxes instead of the terminal. The handler gets the text and
// caption as Windows-1252 bytes and returns the button (IDYES, IDNO, IDOK).
typedef int (*HostMessageBoxHandler)(void* context, const char* text, const char* caption, unsigned type);
void HostSetMessageBoxHandler(HostMessageBoxHandler handler, void* context);

// Makes the Win32 function `name` fail once, after `after` more calls of it
// have succeeded, with error (0: the error Windows most often gives for it).
// HostClearFaults() forgets every pending failure.
void HostFailCall(const char* name, unsigned long after, unsigned long error = 0);
void HostClearFaults();

// Calls made while one of these lives are not the program's own (a stand-in
// library recording what happens to it): they are not counted and never fail.
class HostUncountedCalls {
 public:
  HostUncountedCalls();
  ~HostUncountedCalls();
  HostUncountedCalls(const HostUncountedCalls&) = delete;
  HostUncountedCalls& operator=(const HostUncountedCalls&) = delete;
};

#endif
