#ifndef PREUNINST_MAIN_PROCESS_H
#define PREUNINST_MAIN_PROCESS_H

#include "common/platform.h"

// Starts commandLine (program and arguments; the system finds the program
// from the first token), waits for it to end and returns 1 when its exit code
// was 0, else 0 (also when it cannot be started). visible 0 hides its window;
// title goes into its start-up information.
int RunProgram(char* commandLine, int visible, const char* title);

// As RunProgram; started (when not null) is called with context once the
// program has started, before the wait.
int RunProgramThen(char* commandLine, int visible, const char* title, void (*started)(void* context),
                   void* context);

#endif
