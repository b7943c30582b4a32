#include "common/pattern.h"

namespace {

unsigned Upper(unsigned letter) { return letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter; }

}  // namespace

bool MatchesPattern(const char* pattern, const void* name, size_t length, size_t letterSize) {
  const unsigned char* const bytes = static_cast<const unsigned char*>(name);
  const auto letterAt = [bytes, letterSize](size_t at) {
    return letterSize == 1 ? bytes[at] : bytes[at * 2] | static_cast<unsigned>(bytes[at * 2 + 1]) << 8;
  };
  if (pattern[0] == '*' && pattern[1] == '.' && pattern[2] == '*' && pattern[3] == '\0') return true;
  const char* star = nullptr;  // the part after the last * seen, and where in name it stands
  size_t resume = 0;
  size_t at = 0;
  while (at < length) {
    if (*pattern == '*') {
      star = ++pattern;
      resume = at;
    } else if (*pattern != '\0' &&
               (*pattern == '?' || Upper(static_cast<unsigned char>(*pattern)) == Upper(letterAt(at)))) {
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
