#include "registry/values.h"

#include "common/strings.h"

int RegReadValue(HKEY root, const char* keyPath, const char* valueName, DWORD* type, BYTE* data,
                 DWORD* size) {
  data[0] = 0;
  *type = REG_NONE;
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
  const LONG status = RegQueryValueExA(key, valueName, nullptr, type, data, size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    // The length reported for a value that did not fit is dropped.
    *size = 0;
    return 1;
  }
  return 0;
}

bool RegValueExists(HKEY root, const char* keyPath, const char* valueName) {
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  const LONG status = RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

int RegWriteValue(HKEY root, const char* keyPath, const char* valueName, DWORD type, const BYTE* data,
                  DWORD size) {
  HKEY key;
  if (RegCreateKeyA(root, keyPath, &key) != ERROR_SUCCESS) return 1;
  const LONG status = RegSetValueExA(key, valueName, 0, type, data, size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : 1;
}

int RegRemoveValue(HKEY root, const char* keyPath, const char* valueName) {
  HKEY key;
  if (RegOpenKeyExA(root, keyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return 1;
  const LONG status = RegDeleteValueA(key, valueName);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : 1;
}

LONG RegDeleteKeyTree(HKEY root, const char* keyPath) {
  // An empty path would name the root itself.
  if (keyPath == nullptr || keyPath[0] == '\0') return ERROR_BADKEY;
  HKEY key;
  LONG status = RegOpenKeyExA(root, keyPath, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, &key);
  if (status != ERROR_SUCCESS) return status;
  for (;;) {
    char subkey[256];
    DWORD length = CountOf(subkey);
    // Always index 0: each deleted child moves the next one there.
    status = RegEnumKeyExA(key, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) {
      // Windows 95 would delete a whole tree here; NT refuses a key that still
      // has subkeys, which is why the children went first.
      status = RegDeleteKeyA(root, keyPath);
      break;
    }
    if (status != ERROR_SUCCESS) break;
    status = RegDeleteKeyTree(key, subkey);
    if (status != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
  return status;
}
