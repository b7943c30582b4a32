#ifndef PREUNINST_MAIN_PROCESS_H
#define PREUNINST_MAIN_PROCESS_H

#include "common/platform.h"

// Starts commandLine (program and arguments; the system finds the program
// from the first token), waits for it to end and returns 1 when its exit code
// was 0, else 0 (also when it cannot be started). visible 0 hides its window;
// title goes into its start-up information.
int RunProgram(char* commandLine, int visible, const char* title);

#endif
