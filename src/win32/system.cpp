// Version, directories, message boxes, memory and the two string calls.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "win32/internal.h"

using namespace hostwin;

namespace {

HostMessageBoxHandler g_boxHandler = nullptr;
std::vector<HLOCAL> g_kept;  // blocks a failing LocalFree did not free
void* g_boxContext = nullptr;

// What Windows returns for a directory: the length without the terminator
// when it fits, else the size needed with it, and the buffer left alone.
UINT CopyDirectory(const std::string& directory, LPSTR buffer, UINT size) {
  const UINT length = static_cast<UINT>(directory.size());
  if (buffer == nullptr || size <= length) return length + 1;
  memcpy(buffer, directory.c_str(), length + 1);
  return length;
}

// One line from the terminal, read byte by byte so that nothing meant for a
// later box or a started program is taken.
bool ReadAnswer(std::string* line) {
  char c;
  bool any = false;
  while (read(STDIN_FILENO, &c, 1) == 1) {
    any = true;
    if (c == '\n') break;
    line->push_back(c);
  }
  return any;
}

}  // namespace

// The major version in the low byte, the minor in the next; the build in
// the high word, whose top bit Windows 95 sets. It cannot fail.
extern "C" DWORD WINAPI GetVersion(void) {
  const ApiCall call("GetVersion");
  Machine* machine = CurrentMachine();
  const bool nt = machine == nullptr || machine->settings.nt;
  const unsigned version = WindowsVersion();
  return static_cast<DWORD>(version / 100 | (version % 100) << 8) | (nt ? 0u : 0x80000000u);
}

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  const ApiCall call("GetVersionExA");
  if (call.Fails()) return FALSE;
  // Windows checks the size field and fails for any other value.
  if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                          info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  Machine* machine = CurrentMachine();
  const bool nt = machine == nullptr || machine->settings.nt;
  const unsigned version = WindowsVersion();
  info->dwMajorVersion = version / 100;
  info->dwMinorVersion = version % 100;
  // Each version's last build: NT 4.0, 2000, XP, Vista, 7, 10; Windows 95
  // is 4.00.950.
  DWORD build = 19045;
  const struct {
    unsigned version;
    DWORD build;
  } builds[] = {{400, 1381}, {500, 2195}, {501, 2600}, {600, 6002}, {601, 7601}};
  for (const auto& known : builds) {
    if (known.version == version) build = known.build;
  }
  info->dwBuildNumber = nt ? build : 0x040003B6;
  info->dwPlatformId = nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
  memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  return TRUE;
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  const ApiCall call("GetWindowsDirectoryA",
                     CurrentMachine() != nullptr ? CurrentMachine()->settings.windows : "");
  if (call.Fails()) return 0;
  Machine* machine = CurrentMachine();
  if (machine == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  return CopyDirectory(machine->settings.windows, buffer, size);
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  const ApiCall call("GetSystemDirectoryA",
                     CurrentMachine() != nullptr ? SystemDirectory(CurrentMachine()->settings) : "");
  if (call.Fails()) return 0;
  Machine* machine = CurrentMachine();
  if (machine == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  return CopyDirectory(SystemDirectory(machine->settings), buffer, size);
}

namespace {

// Shows a box on the terminal, its texts in UTF-8, as the user would read
// them, or hands it to a test's handler in Windows-1252.
int ShowBox(const std::u32string& text, const std::u32string& caption, UINT type) {
  const bool question = (type & 0xF) == MB_YESNO;
  if (g_boxHandler != nullptr) {
    return g_boxHandler(g_boxContext, EncodeAnsi(text, 1252, nullptr).c_str(),
                        EncodeAnsi(caption, 1252, nullptr).c_str(), type);
  }
  fprintf(stderr, "=== %s ===\n%s\n", EncodeUtf8(caption).c_str(), EncodeUtf8(text).c_str());
  if (!question) {
    fprintf(stderr, "[OK]\n");
    return IDOK;
  }
  fprintf(stderr, "(Ja/Nein) ");
  fflush(stderr);
  std::string answer;
  ReadAnswer(&answer);
  const bool yes =
      !answer.empty() && (answer[0] == 'j' || answer[0] == 'J' || answer[0] == 'y' || answer[0] == 'Y');
  fprintf(stderr, "%s\n", yes ? "Ja" : "Nein");
  return yes ? IDYES : IDNO;
}

std::u32string Wide(LPCWSTR text) {
  std::u32string out;
  for (; text != nullptr && *text != 0; ++text) {
    char32_t cp = *text;
    if (cp >= 0xD800 && cp < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (*++text - 0xDC00);
    }
    out.push_back(cp);
  }
  return out;
}

}  // namespace

extern "C" int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  const ApiCall call("MessageBoxA");
  if (call.Fails()) return 0;
  // The bytes are read in the machine's code page, whatever they were meant in.
  const unsigned codePage = AnsiCodePage();
  return ShowBox(DecodeAnsi(text != nullptr ? text : "", codePage),
                 DecodeAnsi(caption != nullptr ? caption : "Error", codePage), type);
}

extern "C" int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
  const ApiCall call("MessageBoxW");
  if (call.Fails()) return 0;
  return ShowBox(Wide(text), caption != nullptr ? Wide(caption) : DecodeUtf8("Error"), type);
}

extern "C" UINT WINAPI GetSystemWow64DirectoryA(LPSTR buffer, UINT size) {
  const ApiCall call("GetSystemWow64DirectoryA");
  if (call.Fails()) return 0;
  Machine* machine = CurrentMachine();
  // 32-bit Windows has the call but no such directory.
  if (machine == nullptr || !machine->settings.wow64) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  return CopyDirectory(machine->settings.windows + "\\SysWOW64", buffer, size);
}

extern "C" int WINAPI lstrcmpiA(LPCSTR left, LPCSTR right) {
  const ApiCall call("lstrcmpiA");
  const unsigned codePage = AnsiCodePage();
  const std::u32string a = FoldText(DecodeAnsi(left != nullptr ? left : "", codePage));
  const std::u32string b = FoldText(DecodeAnsi(right != nullptr ? right : "", codePage));
  return a < b ? -1 : a == b ? 0 : 1;
}

extern "C" HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  const ApiCall call("LocalAlloc");
  if (call.Fails()) return nullptr;
  void* memory = (flags & LMEM_ZEROINIT) ? calloc(bytes != 0 ? bytes : 1, 1) : malloc(bytes != 0 ? bytes : 1);
  if (memory == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return memory;
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL memory) {
  const ApiCall call("LocalFree");
  if (call.Fails()) {
    // Windows keeps the block until the process ends; so does the layer.
    g_kept.push_back(memory);
    return memory;
  }
  free(memory);
  return nullptr;
}

extern "C" int WINAPI lstrlenA(LPCSTR text) {
  const ApiCall call("lstrlenA");
  return text != nullptr ? static_cast<int>(strlen(text)) : 0;
}

extern "C" LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source) {
  const ApiCall call("lstrcatA");
  if (destination == nullptr || source == nullptr) return nullptr;
  return strcat(destination, source);
}

void hostwin::KeepMemory(void* memory) { g_kept.push_back(memory); }

void hostwin::FreeKeptMemory() {
  for (HLOCAL memory : g_kept) free(memory);
  g_kept.clear();
}

void HostSetMessageBoxHandler(HostMessageBoxHandler handler, void* context) {
  g_boxHandler = handler;
  g_boxContext = context;
}
