// Feeds arbitrary WININIT.INI files to IniAddEntry on the emulated machine and
// checks, for every one, that the file afterwards is the old file with one
// piece inserted, that the piece is one entry (with its header when the
// section was missing), and that a reader looking for the section as
// Windows 95 does finds the entry on the line after the header.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

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

void Fail(const char* what, const std::string& before, const std::string& after) {
  fprintf(stderr, "%s\nbefore (%zu bytes): %s\nafter (%zu bytes): %s\n", what, before.size(), before.c_str(),
          after.size(), after.c_str());
  abort();
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
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

bool IsInsertion(const std::string& before, const std::string& after, const std::string& piece) {
  if (after.size() != before.size() + piece.size()) return false;
  size_t common = 0;
  while (common < before.size() && before[common] == after[common]) ++common;
  // The piece starts at most its own length before the end of the common
  // prefix.
  for (size_t at = common >= piece.size() ? common - piece.size() : 0; at <= common; ++at) {
    if (after.compare(at, piece.size(), piece) == 0 &&
        after.compare(at + piece.size(), std::string::npos, before, at, std::string::npos) == 0) {
      return true;
    }
  }
  return false;
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

  if (Count(after, kEntry) != Count(before, kEntry) + 1) Fail("not exactly one entry added", before, after);
  if (!IsInsertion(before, after, "\r\n" + kEntry) && !IsInsertion(before, after, "[Rename]\r\n" + kEntry) &&
      !IsInsertion(before, after, "\r\n[Rename]\r\n" + kEntry)) {
    Fail("the old bytes are not all there, in order, around one entry", before, after);
  }
  if (HeaderEnd(before) == std::string::npos) {
    if (after.compare(0, before.size(), before) != 0)
      Fail("a new section is not appended at the end", before, after);
    // Windows 95 sees a header only at the start of a line.
    const size_t open = after.rfind("[Rename]");
    if (open != 0 && after[open - 1] != '\n' && after[open - 1] != '\r') {
      Fail("the new header does not start a line", before, after);
    }
  }
  if (before.find('\0') == std::string::npos) {
    const size_t header = HeaderEnd(after);
    if (header == std::string::npos) Fail("no [Rename] header afterwards", before, after);
    const size_t lineEnd = after.find_first_of("\r\n", header);
    if (lineEnd == std::string::npos || after.compare(lineEnd, 2 + kEntry.size(), "\r\n" + kEntry) != 0) {
      Fail("the entry is not the line after the header", before, after);
    }
  }
  return 0;
}
