#include "common/strings.h"

#include <stdarg.h>

size_t StrLength(const char* text) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != '\0') ++length;
  }
  return length;
}

bool StrCopy(char* destination, size_t capacity, const char* source) {
  if (capacity == 0) return false;
  destination[0] = '\0';
  return StrAppend(destination, capacity, source);
}

bool StrAppend(char* destination, size_t capacity, const char* source) {
  const size_t have = StrLength(destination);
  const size_t add = StrLength(source);
  if (have >= capacity || add >= capacity - have) return false;
  for (size_t i = 0; i < add; ++i) destination[have + i] = source[i];
  destination[have + add] = '\0';
  return true;
}

namespace {

// Appends the decimal form of value; the magnitude is taken unsigned so that
// the most negative int formats correctly.
bool AppendDecimal(char* destination, size_t capacity, int value) {
  char digits[16];
  size_t count = 0;
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  char text[18];
  size_t length = 0;
  if (value < 0) text[length++] = '-';
  while (count > 0) text[length++] = digits[--count];
  text[length] = '\0';
  return StrAppend(destination, capacity, text);
}

}  // namespace

bool StrFormat(char* destination, size_t capacity, const char* format, ...) {
  if (capacity == 0) return false;
  destination[0] = '\0';
  va_list arguments;
  va_start(arguments, format);
  bool fits = true;
  const char* literal = format;
  while (fits && *literal != '\0') {
    const char* stop = literal;
    while (*stop != '\0' && *stop != '%') ++stop;
    // Copy the literal run up to the next directive.
    const size_t have = StrLength(destination);
    const size_t run = static_cast<size_t>(stop - literal);
    if (have >= capacity || run >= capacity - have) {
      fits = false;
      break;
    }
    for (size_t i = 0; i < run; ++i) destination[have + i] = literal[i];
    destination[have + run] = '\0';
    if (*stop == '\0') break;
    switch (stop[1]) {
      case 's':
        fits = StrAppend(destination, capacity, va_arg(arguments, const char*));
        break;
      case 'i':
      case 'd':
        fits = AppendDecimal(destination, capacity, va_arg(arguments, int));
        break;
      case '%':
        fits = StrAppend(destination, capacity, "%");
        break;
      default:
        fits = false;
        break;
    }
    literal = stop + 2;
  }
  va_end(arguments);
  if (!fits) destination[0] = '\0';
  return fits;
}

bool StrEqual(const char* left, const char* right) {
  size_t i = 0;
  while (left[i] != '\0' && left[i] == right[i]) ++i;
  return left[i] == right[i];
}

bool AsciiEqualNoCase(const char* left, const char* right, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    char a = left[i];
    char b = right[i];
    if (a == '\0' || b == '\0') return false;
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

char* SkipProgramName(char* commandLine) {
  char* cursor = commandLine;
  if (*cursor == '"') {
    ++cursor;
    while (*cursor != '\0' && *cursor != '"') ++cursor;
    if (*cursor == '"') ++cursor;
  } else {
    while (*cursor != '\0' && *cursor != ' ' && *cursor != '\t') ++cursor;
  }
  while (*cursor == ' ' || *cursor == '\t') ++cursor;
  return cursor;
}
