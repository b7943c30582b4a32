#include <gtest/gtest.h>

#include <string.h>

#include "files/sweeps.h"

namespace {

TEST(StripLastDirectory, CutsOneDirectoryAndKeepsTheBackslash) {
  struct {
    const char* path;
    const char* result;
  } const cases[] = {
      {"C:\\APP\\SYSTEM\\", "C:\\APP\\"},
      {"C:\\APP\\SYSTEM\\\\", "C:\\APP\\SYSTEM\\"},  // only the doubled one goes
      {"C:\\APP\\", "C:\\"},
      {"C:\\APP\\SYSTEM", "C:\\APP\\SYSTEM"},  // no trailing backslash: unchanged
      {"C:/APP/", "C:/APP/"},                  // only the backslash separates
      {"", ""},
      {"C:\\", "C:\\"},  // a drive root has nothing above it
      {"\\", "\\"},
      {"\\\\", "\\"},
      {"APP\\", "APP\\"},
      {"\\APP\\", "\\"},
  };
  for (const auto& each : cases) {
    char path[32];
    memset(path, '#', sizeof(path));
    strcpy(path, each.path);
    const size_t length = strlen(each.path);
    StripLastDirectory(path);
    EXPECT_STREQ(path, each.result) << each.path;
    EXPECT_EQ(path[length + 1], '#') << each.path;  // nothing written past the old end
  }
}

}  // namespace
