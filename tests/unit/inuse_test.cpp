#include <gtest/gtest.h>

#include <string>

#include "main/inuse.h"
#include "support/boxes.h"
#include "support/sandbox.h"
#include "text/texts.h"

namespace {

const std::string kWarning = std::string(kComponentInUseWarning);

class InUse : public SandboxTest {
 protected:
  // Holds a file open for reading, as a program that uses it does. Others
  // may read and write it too: only an open that shares nothing finds it.
  HANDLE Hold(const std::string& path) {
    WriteBytes(path, "component");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    return held;
  }
};

TEST_F(InUse, SystemLibrariesAreCheckedAfterTheProgramDirectory) {
  WriteBytes("C:\\APP\\SYSTEM\\INSTALL.EXE", "free");
  const std::string library = SystemDirectory() + "\\tavnet32.dll";
  HANDLE held = Hold(library);
  HANDLE later = Hold(SystemDirectory() + "\\tavxpt32.dll");
  ScriptedBoxes boxes({});
  // Names too long to test are passed over, not taken for files in use.
  EXPECT_EQ(CheckAllComponentsFree(("C:\\" + std::string(450, 'D') + "\\").c_str()), 0);
  EXPECT_EQ(CheckAllComponentsFree("C:\\APP\\SYSTEM\\"), 0);
  const std::vector<std::string> shown = boxes.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], kWarning + "(" + library + ")");
  EXPECT_EQ(shown[1], shown[0]);
  CloseHandle(held);
  CloseHandle(later);
}

}  // namespace
