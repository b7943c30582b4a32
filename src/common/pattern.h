// The suite's file patterns, matched against a file's long name.
#ifndef PREUNINST_COMMON_PATTERN_H
#define PREUNINST_COMMON_PATTERN_H

#include <stddef.h>

// Whether a long name of length letters matches an ASCII pattern: * any run
// of letters, ? one, ASCII letters without regard to case, *.* every name.
// Windows also matches a pattern against each file's 8.3 name, so *.GID
// finds Index.gidx through INDEX~1.GID; such a file is no match. Letter is
// char for an ANSI name, compared by bytes, which is safe for the suite's
// patterns in every code page (each fixed part starts the name or starts
// with a dot, and neither the start of a name nor a dot is ever the second
// byte of a letter); or WCHAR for a name as NT keeps it.
template <typename Letter>
bool MatchesPattern(const char* pattern, const Letter* name, size_t length) {
  const auto upper = [](unsigned letter) { return letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter; };
  if (pattern[0] == '*' && pattern[1] == '.' && pattern[2] == '*' && pattern[3] == '\0') return true;
  const char* star = nullptr;  // the part after the last * seen, and where in name it stands
  size_t resume = 0;
  size_t at = 0;
  while (at < length) {
    const unsigned letter = static_cast<unsigned>(name[at]) & (sizeof(Letter) == 1 ? 0xFFu : 0xFFFFu);
    if (*pattern == '*') {
      star = ++pattern;
      resume = at;
    } else if (*pattern != '\0' &&
               (*pattern == '?' || upper(static_cast<unsigned char>(*pattern)) == upper(letter))) {
      ++pattern;
      ++at;
    } else if (star != nullptr) {
      pattern = star;
      at = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

#endif
