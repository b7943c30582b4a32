// ANSI text read letter by letter. In the double-byte code pages of East
// Asian Windows (932, 936, 949, 950) a letter may be two bytes, and its
// second byte may be a backslash, a bar or an ASCII letter: a path is
// stepped through with CharNextA, which follows the system's code page,
// never byte by byte. On single-byte code pages and UTF-8 every letter
// these look for is one byte, as before.
#ifndef PREUNINST_COMMON_LETTERS_H
#define PREUNINST_COMMON_LETTERS_H

#include <stddef.h>

const size_t kNoBackslash = static_cast<size_t>(-1);

// Where the last backslash letter of text that begins before end stands,
// or kNoBackslash.
size_t BackslashBefore(const char* text, size_t end);

// Whether the last letter of text is a backslash.
bool EndsInBackslash(const char* text);

// Takes backslash letters off the end of text while it is longer than keep
// bytes.
void TrimBackslashes(char* text, size_t keep);

#endif
