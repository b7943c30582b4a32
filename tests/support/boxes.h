// Answers the program's message boxes in a test and keeps what they showed.
#ifndef PREUNINST_TESTS_SUPPORT_BOXES_H
#define PREUNINST_TESTS_SUPPORT_BOXES_H

#include <string>
#include <vector>

class ScriptedBoxes {
 public:
  // The answers in order (IDYES, IDNO, IDOK); when they run out, No or OK.
  explicit ScriptedBoxes(std::vector<int> answers);
  ~ScriptedBoxes();
  ScriptedBoxes(const ScriptedBoxes&) = delete;
  ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

  std::vector<std::string> Shown() const;  // the texts of the boxes shown

  // Used by the platform's hook, on the thread that shows the box.
  int Answer(const std::string& text, unsigned type);

 private:
  std::vector<int> answers_;
  std::vector<std::string> shown_;
};

#endif
