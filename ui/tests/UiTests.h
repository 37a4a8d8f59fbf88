// Shared pieces of the main window's GUI tests: the list of test classes,
// and a scripted stand-in for the file dialogs and message boxes.
#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/Dialogs.h"

namespace morvex::test {

// Factories of the test objects, one per Qt Test class, in run order.
std::vector<std::function<std::unique_ptr<QObject>()>>& UiTestClasses();

// Registers a test class at static initialisation.
template <class T>
struct RegisterUiTest {
  RegisterUiTest() {
    UiTestClasses().push_back([] { return std::unique_ptr<QObject>(new T()); });
  }
};

// Answers file dialogs from a queue (an empty queue cancels) and records
// every message box instead of showing it.  An error box is recorded as its
// text in `messages` and what it is about in `subjects`; questions take
// their answers from `choices` (true = first answer; none left = second).
class ScriptedDialogs final : public IDialogs {
 public:
  std::deque<std::optional<std::string>> answers;
  std::vector<std::string> filters;
  std::vector<std::string> messages;
  std::vector<std::string> subjects;
  std::deque<bool> choices;
  std::vector<std::string> questions;

  std::optional<std::string> OpenFile(QWidget*, const std::string&, const std::string& filter) override {
    return Next(filter);
  }
  std::optional<std::string> SaveFile(QWidget*, const std::string&, const std::string& filter) override {
    return Next(filter);
  }
  void Message(QWidget*, const std::string& text) override { messages.push_back(text); }
  void Error(QWidget*, const std::string& text, const std::string& subject) override {
    messages.push_back(text);
    subjects.push_back(subject);
  }
  bool Choose(QWidget*, const std::string& text, const std::string&, const std::string&) override {
    questions.push_back(text);
    if (choices.empty()) return false;
    const bool first = choices.front();
    choices.pop_front();
    return first;
  }

 private:
  std::optional<std::string> Next(const std::string& filter) {
    filters.push_back(filter);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace morvex::test
