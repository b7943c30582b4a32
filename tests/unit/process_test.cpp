#include <gtest/gtest.h>

#include <string>

#include "main/process.h"
#include "support/sandbox.h"

namespace {

const char kProgram[] = "C:\\APP\\TOOL.EXE";

class Programs : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    InstallStandIn(kProgram);
  }
  int Run(std::string commandLine, int visible, const char* title = "") {
    return RunProgram(&commandLine[0], visible, title);
  }
};

TEST_F(Programs, OnlyExitCodeZeroCountsAsSuccess) {
  struct {
    const char* arguments;
    int result;
  } const cases[] = {
      {"", 1}, {" --exit=0", 1}, {" --exit=1", 0}, {" --exit=-1", 0}, {" --exit=-1073741819", 0}};
  for (const auto& each : cases) {
    EXPECT_EQ(Run(std::string(kProgram) + each.arguments, 1), each.result) << each.arguments;
  }
  EXPECT_EQ(StandInLog().size(), 5u);  // every one of them ran
}

TEST_F(Programs, ProgramsThatCannotStartFail) {
  WriteBytes("C:\\APP\\TEXT.EXE", "not a program");
  EXPECT_EQ(Run("", 1), 0);
  EXPECT_EQ(RunProgram(nullptr, 1, ""), 0);
  EXPECT_EQ(Run("C:\\APP\\MISSING.EXE /x", 1), 0);
  EXPECT_EQ(Run("C:\\NOWHERE\\TOOL.EXE", 1), 0);
  EXPECT_EQ(Run("C:\\APP\\TEXT.EXE", 1), 0);
  EXPECT_TRUE(StandInLog().empty());
}

}  // namespace
