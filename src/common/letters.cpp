#include "common/letters.h"

#include "common/platform.h"
#include "common/strings.h"

size_t BackslashBefore(const char* text, size_t end) {
  size_t found = kNoBackslash;
  for (const char* at = text; *at != '\0' && static_cast<size_t>(at - text) < end; at = CharNextA(at)) {
    if (*at == '\\') found = static_cast<size_t>(at - text);
  }
  return found;
}

bool EndsInBackslash(const char* text) {
  const size_t length = StrLength(text);
  return length > 0 && BackslashBefore(text, length) == length - 1;
}

void TrimBackslashes(char* text, size_t keep) {
  size_t length = StrLength(text);
  while (length > keep && EndsInBackslash(text)) text[--length] = '\0';
}
