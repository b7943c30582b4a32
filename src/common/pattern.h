// The suite's file patterns, matched against a file's long name.
#ifndef PREUNINST_COMMON_PATTERN_H
#define PREUNINST_COMMON_PATTERN_H

#include <stddef.h>

// Whether a long name of length letters matches an ASCII pattern: * any run
// of letters, ? one, ASCII letters without regard to case, *.* every name.
// Windows also matches a pattern against each file's 8.3 name, so *.GID
// finds Index.gidx through INDEX~1.GID; such a file is no match. The name's
// letters are letterSize bytes each: 1 for an ANSI name, compared by bytes,
// which is safe for the suite's patterns in every code page (each fixed
// part starts the name or starts with a dot, and neither the start of a
// name nor a dot is ever the second byte of a letter); sizeof(WCHAR) for a
// name as NT keeps it.
bool MatchesPattern(const char* pattern, const void* name, size_t length, size_t letterSize);

#endif
