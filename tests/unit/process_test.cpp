#include <gtest/gtest.h>

#include <string>

#include "main/process.h"
#include "support/sandbox.h"

namespace {

class Programs : public SandboxTest {};

// 1 only for a program that ran and ended with 0; a crash code is a failure too.
TEST_F(Programs, OnlyAProgramThatRanAndEndedWithZeroSucceeds) {
  InstallStandIn("C:\\APP\\TOOL.EXE");
  WriteBytes("C:\\APP\\TEXT.EXE", "not a program");
  struct {
    const char* line;
    int result;
  } const cases[] = {
      {"C:\\APP\\TOOL.EXE", 1},
      {"C:\\APP\\TOOL.EXE --exit=0", 1},
      {"C:\\APP\\TOOL.EXE --exit=1", 0},
      {"C:\\APP\\TOOL.EXE --exit=-1", 0},
      {"C:\\APP\\TOOL.EXE --exit=-1073741819", 0},
      {"", 0},
      {"C:\\APP\\MISSING.EXE /x", 0},
      {"C:\\NOWHERE\\TOOL.EXE", 0},
      {"C:\\APP\\TEXT.EXE", 0},
  };
  for (const auto& each : cases) {
    std::string line = each.line;
    EXPECT_EQ(RunProgram(&line[0], 1, ""), each.result) << each.line;
  }
  EXPECT_EQ(RunProgram(nullptr, 1, ""), 0);
  EXPECT_EQ(StandInLog().size(), 5u);  // the stand-in ran each time, nothing else did
}

}  // namespace
