// Bounded string helpers. Every write takes the destination's capacity in
// characters (terminator included) and never goes past it; each helper says
// whether the whole result fitted, and the caller takes its safe path when
// it did not.
#ifndef PREUNINST_COMMON_STRINGS_H
#define PREUNINST_COMMON_STRINGS_H

#include <stddef.h>

template <typename T, size_t N>
constexpr size_t CountOf(const T (&)[N]) {
  return N;
}

// Length of a zero-terminated string; a null pointer has length 0.
size_t StrLength(const char* text);

// Copies source into destination. When it does not fit, destination is left
// empty (a cut path could name another file) and the result is false.
bool StrCopy(char* destination, size_t capacity, const char* source);

// Appends source. When the result does not fit, destination keeps what it
// held before and the result is false.
bool StrAppend(char* destination, size_t capacity, const char* source);

// Formats with %s (a null pointer counts as empty), %i, %d and %%. When the
// result does not fit, or the format holds anything else after a %,
// destination is left empty and the result is false.
bool StrFormat(char* destination, size_t capacity, const char* format, ...);

// Whether both strings hold the same bytes.
bool StrEqual(const char* left, const char* right);

// Compares the first count bytes, ASCII letters without regard to case; every
// other byte must be identical. Both strings must hold count bytes before any
// terminator to be equal.
bool AsciiEqualNoCase(const char* left, const char* right, size_t count);

// The arguments of a process command line: what follows the program's own
// name (quoted or not) and the blanks after it.
char* SkipProgramName(char* commandLine);

#endif
