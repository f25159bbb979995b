#pragma once
// Boxes that the tests answer and read: every box is recorded with its kind
// and text, questions take their answers from a queue (No when it is empty),
// and a hook can look at the window while a box is "open".

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/MessageBoxes.h"
#include "platform/Application.h"

namespace pelicore::testing {

struct ShownBox {
  std::string Kind;  // "message", "question" or "error"
  std::string Text;
  std::string Caption;
  bool operator==(const ShownBox&) const = default;
};

inline void PrintTo(const ShownBox& B, std::ostream* Out) {
  *Out << "{" << B.Kind << ", \"" << B.Text << "\", \"" << B.Caption << "\"}";
}

class ScriptedBoxes : public TMessageBoxes {
 public:
  void ShowMessage(const std::string& Text) override { Record({"message", Text, Application().Title}); }
  bool AskYesNo(const std::string& Text, const std::string& Caption) override {
    Record({"question", Text, Caption});
    if (Answers.empty()) return false;
    bool Answer = Answers.front();
    Answers.pop_front();
    return Answer;
  }
  void ShowError(const std::string& Text) override { Record({"error", Text, Application().Title}); }

  std::vector<ShownBox> Shown;
  std::deque<bool> Answers;
  std::function<void(const ShownBox&)> WhileShown;

 private:
  void Record(const ShownBox& Box) {
    Shown.push_back(Box);
    if (WhileShown) WhileShown(Box);
  }
};

}  // namespace pelicore::testing
