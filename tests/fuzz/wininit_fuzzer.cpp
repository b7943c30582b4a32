// Feeds arbitrary WININIT.INI files to IniAddEntry on the emulated machine and
// checks, for every one, that the file afterwards is the old file with one
// piece inserted: the entry on the line after the first [Rename] header, or
// the section at the end, its header at the start of a line, where Windows 95
// finds it.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "files/schedule.h"
#include "win32/hostapi.h"

namespace {

const char kIni[] = "C:\\WINDOWS\\WININIT.INI";
const std::string kEntry = "NUL=C:\\WINDOWS\\TAVUNINS.EXE";
std::string g_hostFile;
std::string g_machine;

void RemoveMachine() {
  std::error_code ignored;
  std::filesystem::remove_all(g_machine, ignored);
}

void Fail(const std::string& before, const std::string& after) {
  fprintf(stderr, "not the old file with the entry in its place\nbefore (%zu bytes): %s\nafter (%zu bytes): %s\n",
          before.size(), before.c_str(), after.size(), after.c_str());
  abort();
}

// Where the first [Rename] header ends, in any letter case, before the first
// zero byte; npos when there is none. The program tries every [ in turn, so
// its header is the first place where these eight bytes stand.
size_t HeaderEnd(const std::string& text) {
  std::string visible = text.substr(0, text.find('\0'));
  for (char& c : visible) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const size_t open = visible.find("[rename]");
  return open == std::string::npos ? open : open + 8;
}

std::string Expected(const std::string& before) {
  const size_t header = HeaderEnd(before);
  if (header != std::string::npos) {
    // Text after the bracket stays on the header's line.
    const size_t lineEnd = std::min(before.find_first_of("\r\n", header), before.size());
    return before.substr(0, lineEnd) + "\r\n" + kEntry + before.substr(lineEnd);
  }
  const bool lineStart = before.empty() || before.back() == '\r' || before.back() == '\n';
  return before + (lineStart ? "" : "\r\n") + "[Rename]\r\n" + kEntry;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/preuninst-fuzz-XXXXXX";
  const char* directory = mkdtemp(pattern);
  if (directory == nullptr) abort();
  const std::string machine = directory;
  g_machine = machine;
  atexit(RemoveMachine);
  mkdir((machine + "/drive_c").c_str(), 0755);
  mkdir((machine + "/drive_c/WINDOWS").c_str(), 0755);
  std::string error;
  if (!HostOpenMachine(machine.c_str(), &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    abort();
  }
  g_hostFile = machine + "/drive_c/WINDOWS/WININIT.INI";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string before(reinterpret_cast<const char*>(data), size);
  std::ofstream(g_hostFile, std::ios::binary | std::ios::trunc) << before;
  IniAddEntry("Rename", "NUL", "C:\\WINDOWS\\TAVUNINS.EXE", kIni);
  std::ifstream in(g_hostFile, std::ios::binary);
  std::ostringstream read;
  read << in.rdbuf();
  const std::string after = read.str();

  if (after != Expected(before)) Fail(before, after);
  return 0;
}
