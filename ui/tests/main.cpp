// Runs the GUI test classes of the main window in one application, with the
// number format and random sequence pinned as in the other test programs.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

#include "numerics/LxBasics.h"
#include "ui/tests/UiTests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  morvex::SetDecimalSeparator('.');
  morvex::SetRandSeed(0);
  // The window's list of recent files goes to a folder of the test run,
  // never to the user's own settings.
  QTemporaryDir settings_dir;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_dir.path());

  int failures = 0;
  // A run that checks one class only (a test that starts this program again
  // with other settings) names it here.
  const QByteArray only = qgetenv("MORVEX_UI_TESTS_ONLY");
  for (auto& make : morvex::test::UiTestClasses()) {
    auto test = make();
    if (!only.isEmpty() && only != test->metaObject()->className()) continue;
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
