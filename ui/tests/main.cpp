// Runs the GUI test classes of the main window in one application, with the
// number format and random sequence pinned as in the other test programs.
#include <QApplication>
#include <QTest>

#include <clocale>

#include "numerics/LxBasics.h"
#include "ui/tests/UiTests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  morvex::SetDecimalSeparator('.');
  morvex::SetRandSeed(0);

  int failures = 0;
  for (auto& make : morvex::test::UiTestClasses()) {
    auto test = make();
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}

namespace morvex::test {

std::vector<std::function<std::unique_ptr<QObject>()>>& UiTestClasses() {
  static std::vector<std::function<std::unique_ptr<QObject>()>> classes;
  return classes;
}

}  // namespace morvex::test
