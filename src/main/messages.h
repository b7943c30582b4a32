// The removal's message boxes.
#ifndef PREUNINST_MAIN_MESSAGES_H
#define PREUNINST_MAIN_MESSAGES_H

#include "common/platform.h"

// Shows a box with the removal's caption and returns its answer. text is one
// of the fixed Windows-1252 texts; tail, when not null, follows it and is
// text the system gave in its ANSI code page (a path).
int ShowMessage(const char* text, const char* tail, UINT type);

#endif
