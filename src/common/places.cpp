#include "common/places.h"

#include "common/strings.h"

namespace {

bool DirectoryWith(UINT(WINAPI* directory)(LPSTR, UINT), char* buffer, UINT capacity, const char* suffix) {
  const UINT length = directory(buffer, capacity);
  if (length != 0 && length < capacity && StrAppend(buffer, capacity, suffix)) return true;
  buffer[0] = '\0';
  return false;
}

}  // namespace

bool WindowsDirectoryWith(char* buffer, UINT capacity, const char* suffix) {
  return DirectoryWith(GetWindowsDirectoryA, buffer, capacity, suffix);
}

bool SystemDirectoryWith(char* buffer, UINT capacity, const char* suffix) {
  return DirectoryWith(GetSystemDirectoryA, buffer, capacity, suffix);
}
